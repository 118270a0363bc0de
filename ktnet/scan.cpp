#include "scan.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "shop/scan_job.hpp"
#include "text_table.hpp"

namespace ktnet {

namespace {

std::vector<ScaleAddress> addresses(const NumberSet& channels) {
    std::vector<ScaleAddress> all;
    for (unsigned channel = 1; channel <= 4; ++channel) {
        if (!channels.contains(channel)) continue;
        for (const char kind : {'S', 'T'})
            for (unsigned number = 1; number <= 9; ++number)
                all.push_back(*ScaleAddress::make(channel, kind, number));
    }
    return all;
}

// The progress of a scan is the count of addresses asked.
class AddressProgress : public JobObserver {
public:
    AddressProgress(Progress& progress, std::size_t total) : progress_(progress) {
        progress_.start("addresses", total);
    }
    void scale_done(const ScaleAddress&, const ScaleOutcome&) override { progress_.step(++asked_); }

private:
    Progress& progress_;
    std::size_t asked_ = 0;
};

}  // namespace

int run_scan(const ScanOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto channels = parse_number_set(options.channels, 1, 4);
    if (!channels) {
        output.error("--channels: " + channels.error());
        return ktnet_status::trouble;
    }
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    auto connection = connect(env, options.device, output);
    if (!connection) return connection.error();

    const std::vector<ScaleAddress> all = addresses(*channels);
    AddressProgress observer(output.progress(), all.size());
    const auto started = std::chrono::steady_clock::now();
    const ScanResult scan = run_scan_job(**connection, all, observer);
    const std::chrono::duration<double> total = std::chrono::steady_clock::now() - started;
    // The scales that answered, as the store's last contact with them.
    if (auto job = store->begin_job("scan", env.command_line, env.origin, env.now())) {
        StoreBatch contacts;
        for (const auto& f : scan.found) contacts.contact(f.address);
        for (const auto& g : scan.garbled) contacts.contact(g.address);
        if (auto done = store->commit(contacts, *job, env.now()); !done) output.error(done.error());
        if (auto done = store->end_job(*job, env.now(), "done", {}); !done)
            output.error(done.error());
    } else {
        output.error(job.error());
    }

    int status = ktnet_status::success;
    std::string ended;  // why the scan ended early
    if (scan.stopped) {
        status = exit_status::stopped_by(env.context.stop_signal());
        ended = "stopped by a signal";
    } else if (scan.silent_at) {
        status = ktnet_status::trouble;
        ended = fmt::format("the controller stopped answering at {}: {}", scan.silent_at->text(),
                            scan.silence);
    }
    output.progress().finish(ended.empty() ? "done" : ended);
    if (!ended.empty())
        output.error(fmt::format("{}; {} of {} addresses asked", ended, scan.asked, all.size()));
    for (const ScanResult::Garbled& g : scan.garbled)
        output.error(fmt::format("{}: answered, but garbled ({})", shop->label(g.address), g.why));
    // The shop's scales on the channels asked that did not answer.
    std::vector<ScaleAddress> missing;
    if (!scan.silent_at && !scan.stopped) {
        for (const ShopScale& s : shop->scales) {
            const bool answered =
                std::any_of(scan.found.begin(), scan.found.end(),
                            [&](const auto& f) { return f.address == s.address; }) ||
                std::any_of(scan.garbled.begin(), scan.garbled.end(),
                            [&](const auto& g) { return g.address == s.address; });
            if (channels->contains(s.address.channel()) && !answered) missing.push_back(s.address);
        }
    }
    for (const ScaleAddress& m : missing)
        output.error(fmt::format("{} of the shop file did not answer", shop->label(m)));
    if (status == ktnet_status::success && (!scan.garbled.empty() || !missing.empty()))
        status = ktnet_status::problems;

    if (output.json()) {
        nlohmann::json scales = nlohmann::json::array(), garbled = nlohmann::json::array(),
                       absent = nlohmann::json::array();
        for (const auto& f : scan.found) {
            scales.push_back({{"address", f.address.text()},
                              {"name", shop->name_of(f.address)},
                              {"answer_ms", f.answer_ms}});
        }
        for (const auto& g : scan.garbled) {
            garbled.push_back({{"address", g.address.text()},
                               {"name", shop->name_of(g.address)},
                               {"why", g.why}});
        }
        for (const auto& m : missing)
            absent.push_back({{"address", m.text()}, {"name", shop->name_of(m)}});
        output.document({{"scales", scales},
                         {"garbled", garbled},
                         {"missing", absent},
                         {"asked", scan.asked},
                         {"addresses", all.size()},
                         {"complete", scan.complete(all.size()) && scan.garbled.empty()},
                         {"seconds", total.count()},
                         {"status", status}});
        return status;
    }
    TextTable table({{"scale"}, {"name"}, {"answer", TextTable::Align::right}});
    for (const auto& f : scan.found)
        table.add(
            {f.address.text(), shop->name_of(f.address), fmt::format("{:.1f} ms", f.answer_ms)});
    for (const auto& g : scan.garbled)
        table.add({g.address.text(), shop->name_of(g.address), "garbled"});
    if (!table.empty()) table.print(output.out());
    output.out() << fmt::format("{} scale{} answered; {} of {} addresses asked in {:.1f} s\n",
                                scan.found.size(), scan.found.size() == 1 ? "" : "s", scan.asked,
                                all.size(), total.count());
    return status;
}

void add_scan(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ScanOptions>();
    CLI::App* sub = app.add_subcommand(
        "scan",
        "Ask every address of the bus (channels 1-4, sections and terminals 1-9) for PLU 1 and "
        "list the scales that answer, with their answer times.");
    sub->add_option("--channels", options->channels, "channels to scan: \"1,2\", \"1-4\"")
        ->capture_default_str();
    add_device_options(*sub, options->device, true);
    sub->footer(
        "An address that answers oddly is asked again, and one is empty only when the "
        "controller says twice in a row that no scale answered. A scan stops at the first "
        "address whose request gets no answer at all from the controller, so it takes at most "
        "one time-out. Exit status: 0 every address asked and every scale of the shop file "
        "found, 1 a scale answered but garbled, or a scale of the shop file did not answer, 2 "
        "the scan could not be completed (no controller, or it stopped answering), 5 the "
        "controller is held by another run, 128+N stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_scan(*options, env, output); };
    });
}

}  // namespace ktnet
