#include "scan.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/exit_status.hpp"
#include "progress.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

struct Found {
    ScaleAddress address;
    double answer_ms;
};

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

}  // namespace

int run_scan(const ScanOptions& options, ShopEnvironment& env, std::ostream& out,
             std::ostream& err) {
    const NumberSet channels = parse_number_set(options.channels, 1, 4);
    if (!channels.error.empty()) {
        err << "ktnet scan: --channels: " << channels.error << '\n';
        return ktnet_status::trouble;
    }
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) {
        err << "ktnet scan: " << shop.error << '\n';
        return ktnet_status::trouble;
    }
    int status = ktnet_status::success;
    auto connection = Connection::open(env, options.device, "ktnet scan", err, status);
    if (!connection) return status;

    const std::vector<ScaleAddress> all = addresses(channels);
    std::vector<Found> found;
    std::string stopped;  // why the scan ended early
    std::size_t asked = 0;
    Progress progress(err, env.error_is_terminal, "ktnet scan");
    progress.start("addresses", all.size());
    const auto scan_started = Clock::now();
    for (const ScaleAddress& address : all) {
        if (const int signal = connection->stop_signal()) {
            status = exit_status::stopped_by(signal);
            stopped = "stopped by a signal";
            break;
        }
        const auto sent = Clock::now();
        const RecordAnswer got = connection->session().read_record(address, 1);
        const std::chrono::duration<double, std::milli> took = Clock::now() - sent;
        ++asked;
        progress.step(asked);
        const Answer& a = got.answer;
        if (a.accepted()) {
            found.push_back({address, took.count()});
        } else if (a.verdict == Answer::Verdict::interrupted) {
            status = exit_status::stopped_by(connection->stop_signal());
            stopped = "stopped by a signal";
            break;
        } else if (a.verdict == Answer::Verdict::no_answer) {
            status = ktnet_status::trouble;
            stopped = fmt::format("the controller stopped answering at {}: {}", address.text(),
                                  describe_failure(a));
            break;
        }
        // Refused (the controller's "no answer from the scale", or a garbled answer): no scale
        // there that speaks; the scan goes on.
    }
    const std::chrono::duration<double> total = Clock::now() - scan_started;
    progress.finish(stopped.empty() ? "done" : stopped);
    if (!stopped.empty())
        err << fmt::format("ktnet scan: {}; {} of {} addresses asked\n", stopped, asked,
                           all.size());

    if (options.device.json) {
        nlohmann::json scales = nlohmann::json::array();
        for (const Found& f : found) {
            scales.push_back({{"address", f.address.text()},
                              {"name", shop.shop->name_of(f.address)},
                              {"answer_ms", f.answer_ms}});
        }
        const nlohmann::json doc = {{"scales", scales},         {"asked", asked},
                                    {"addresses", all.size()},  {"complete", stopped.empty()},
                                    {"seconds", total.count()}, {"status", status}};
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return status;
    }
    if (!found.empty()) out << fmt::format("{:<6}{:<20}{:>12}\n", "scale", "name", "answer");
    for (const Found& f : found) {
        out << fmt::format("{:<6}{:<20}{:>9.1f} ms\n", f.address.text(),
                           shop.shop->name_of(f.address), f.answer_ms);
    }
    out << fmt::format("{} scale{} answered; {} of {} addresses asked in {:.1f} s\n", found.size(),
                       found.size() == 1 ? "" : "s", asked, all.size(), total.count());
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
        "A scan stops at the first address whose request gets no answer at all from the "
        "controller, so it takes at most one time-out. Exit status: 0 every address asked, 2 "
        "the scan could not be completed (no controller, or it stopped answering), 5 the "
        "controller is held by another run, 128+N stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_scan(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
