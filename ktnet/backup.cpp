#include "backup.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "formats/plu_files.hpp"
#include "shop/backup_job.hpp"
#include "text_table.hpp"

namespace ktnet {

int run_backup(const BackupOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    auto scales = select_scales(options.scales, *shop);
    if (!scales) return output.fail(scales.error());
    const auto plus = parse_number_set(options.plu, 0, highest_request_plu);
    if (!plus) return output.fail(fmt::format("--plu: {}", plus.error()));
    const auto dir = path_of(options.dir);
    if (!dir) return output.fail(fmt::format("--dir {}: not a file name", options.dir));
    const auto made = prepare_backup_folder(*dir);
    if (!made) return output.fail(fmt::format("--dir: {}", made.error()));
    if (*made) output.note(fmt::format("made the folder {}", options.dir));

    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    auto connection = connect(env, options.device, output);
    if (!connection) return connection.error();
    const auto job_id = store->begin_job("backup", env.command_line, env.origin, env.now());
    if (!job_id) return output.fail(job_id.error());
    StoreJournal journal(*store, *job_id, env.now);
    ProgressObserver observer(output.progress(),
                              [&](const ScaleAddress& s) { return shop->label(s); });
    BackupRequest request{*scales, plus->numbers(), *dir, env.now(), &journal};
    request.keep_days = options.keep_days;
    const BackupOutcome job = run_backup_job(**connection, request, observer);
    if (job.controller_gone)
        output.error("the controller went away; the scales after it were not started");
    if (!job.store_failure.empty()) output.error(job.store_failure);
    int status = job.all_done() ? ktnet_status::success : ktnet_status::problems;
    if (job.controller_gone || !job.store_failure.empty()) status = ktnet_status::trouble;
    if (job.stopped) status = exit_status::stopped_by(env.context.stop_signal());
    for (const auto& r : job.scales)
        for (const auto& removed : r.removed)
            output.note("removed the old backup " + removed.string());
    std::vector<ShopStore::JobScale> ended;
    for (const auto& r : job.scales)
        ended.push_back(
            {r.address, std::string(state_name(r.state)), r.records, request.plus.size()});
    if (auto done = store->end_job(*job_id, env.now(), std::to_string(status), ended); !done)
        output.error(done.error());

    if (output.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : job.scales) {
            list.push_back(
                {{"address", r.address.text()},
                 {"name", shop->name_of(r.address)},
                 {"records", r.records},
                 {"seconds", r.seconds},
                 {"ok", r.state == ScaleState::done},
                 {"state", state_name(r.state)},
                 {"result", r.result},
                 {"file", r.state == ScaleState::done ? r.file.string() : std::string()}});
        }
        output.document({{"scales", list}, {"status", status}});
        return status;
    }
    TextTable table({{"scale"},
                     {"name"},
                     {"records", TextTable::Align::right},
                     {"time", TextTable::Align::right},
                     {"result"}});
    for (const auto& r : job.scales) {
        table.add(
            {r.address.text(), shop->name_of(r.address), std::to_string(r.records),
             r.state == ScaleState::not_started
                 ? "-"
                 : Progress::duration_text(std::chrono::duration<double>(r.seconds)),
             r.state == ScaleState::done ? fmt::format("ok: {}", r.file.string()) : r.result});
    }
    table.print(output.out());
    return status;
}

void add_backup(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<BackupOptions>();
    CLI::App* sub = app.add_subcommand(
        "backup",
        "Read each scale into DIR/<address>-<YYYY-MM-DD>.txt in the reader's exact format, so "
        "that rdk, ldk and ktnet all read it, and into the shop's store as a snapshot. A backup "
        "is renamed into place only when complete: a scale that fails keeps its previous backup, "
        "and the next scale goes on. A backup whose named articles fell by more than half "
        "since the scale's last one keeps the previous file, is written as "
        "<address>-<YYYY-MM-DD>-shrunk.txt, and fails.");
    sub->add_option("SCALES", options->scales,
                    "scales: 1S1, a name from the shop file, 1S1,2T3, 1S1-9, or all")
        ->required();
    sub->add_option("--plu", options->plu, "the PLUs to read: 1-10000, or a list such as 1-50,77")
        ->capture_default_str();
    sub->add_option("--dir", options->dir, "the folder of the backups, made when missing")
        ->capture_default_str();
    sub->add_option("--keep", options->keep_days,
                    "remove the dated backups of the scales backed up that are older than DAYS "
                    "days, but never a scale's newest good one");
    add_device_options(*sub, options->device, true);
    sub->footer(
        "Exit status: 0 every scale backed up, 1 a scale failed (its previous backup is kept), "
        "2 a bad command line, no controller or one that went away, 5 the controller is held by "
        "another run, 128+N stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_backup(*options, env, output); };
    });
}

}  // namespace ktnet
