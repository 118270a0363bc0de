#include "restore.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "base/limits.hpp"
#include "base/text.hpp"
#include "formats/plu_files.hpp"
#include "sending.hpp"
#include "shop/restore_plan.hpp"

namespace ktnet {

namespace {

std::string when(TimePoint t) {
    return local_time(t, "{:%Y-%m-%d %H:%M}");
}

}  // namespace

int run_restore(const RestoreOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    const auto target = single_scale(options.scale, *shop);
    if (!target) {
        return output.fail(
            fmt::format("\"{}\" is not one scale: a restore is of one scale at a "
                        "time (1S1, or its name in the shop file)",
                        options.scale));
    }
    std::optional<ScaleAddress> from_scale;
    if (!options.from_scale.empty()) {
        from_scale = single_scale(options.from_scale, *shop);
        if (!from_scale)
            return output.fail(fmt::format("--from-scale {}: not one scale", options.from_scale));
    }
    std::optional<NumberSet> plus;
    if (!options.plu.empty()) {
        auto parsed = parse_number_set(options.plu, 0, highest_request_plu);
        if (!parsed) return output.fail("--plu: " + parsed.error());
        plus = std::move(*parsed);
    }
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();

    const bool from_file = !options.from.empty() && !is_iso_date(options.from);
    std::optional<RestoreSource> source;
    if (from_file) {
        auto read = file_restore_source(*store, options.from, *target);
        if (!read) {
            for (const std::string& m : read.error().messages) output.error(m);
            if (read.error().more > 0) output.error(fmt::format("and {} more", read.error().more));
            if (!read.error().hint.empty()) output.error(read.error().hint);
            if (!read.error().summary.empty()) output.error(read.error().summary);
            return read.error().status;
        }
        source = std::move(*read);
    } else {
        auto snapshot = snapshot_source(
            *store, from_scale.value_or(*target),
            options.from.empty() ? std::nullopt : std::optional<std::string>(options.from));
        if (!snapshot) return output.fail(snapshot.error());
        source = std::move(*snapshot);
    }
    if (source->of != *target && from_scale != source->of) {
        return output.fail(fmt::format(
            "{} is of {}, not of {}: add --from-scale {} to restore it into {} all the same",
            source->description, source->of.text(), target->text(), source->of.text(),
            target->text()));
    }
    auto known = store->known(*target);
    if (!known) return output.fail(known.error());
    const LoadPlan plan = restore_plan(*source, *target, *known, options.changed, plus);
    const ScalePlan& sp = plan.scales.front();
    const bool verify = !options.no_verify;

    output.note(fmt::format("restore {} from {}: sending {} of {} record{}{}", shop->label(*target),
                            source->description, sp.send.size(), plan.records.size(),
                            plan.records.size() == 1 ? "" : "s", verify ? ", each read back" : ""));
    if (options.changed) {
        output.note(fmt::format("{} record{} already as the store knows {} holds them",
                                sp.unchanged, sp.unchanged == 1 ? " is" : "s are", target->text()));
    }
    if (sp.byte36_unknown > 0) {
        output.note(fmt::format(
            "the store does not know byte 36 of {} of the file's records (it is in no line): they "
            "get 0, as ldk stores it",
            sp.byte36_unknown));
    }
    // What it undoes: the loads and restores since the snapshot was taken.
    std::optional<TimePoint> since = source->taken;
    if (!since && from_file) {
        std::error_code ec;
        const auto written = std::filesystem::last_write_time(options.from, ec);
        // The file's age, moved over to the system clock.
        if (!ec) {
            since = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(
                        std::filesystem::file_time_type::clock::now() - written);
        }
    }
    if (since) {
        auto undone = store->jobs_changing(*target, *since);
        if (!undone) return output.fail(undone.error());
        for (const JobRow& j : *undone) {
            output.error(fmt::format("it undoes the {} of {} (job {}: ktnet {})", j.kind,
                                     when(j.started), j.id, j.arguments));
        }
    }
    if (options.dry_run) {
        output.note("nothing sent: --dry-run");
        return ktnet_status::success;
    }
    if (sp.send.empty()) {
        output.note("nothing to send");
        return ktnet_status::success;
    }
    if (const auto refused = refused_to_send(options.yes, env, output)) return *refused;
    auto connection = connect(env, options.device, output);
    if (!connection) return connection.error();
    LogHeader header{local_time(env.now(), "{:%Y-%m-%dT%H:%M:%S}"),
                     source->description,
                     {target->text()},
                     verify};
    auto sent = send_plan(
        {plan, verify, "restore", ChangeCause::restore, options.log, "ktnet-restore", header}, env,
        *shop, *store, **connection, output);
    if (!sent) return sent.error();
    print_sent(*sent, *shop, output, std::nullopt);
    return sent->status;
}

void add_restore(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<RestoreOptions>();
    CLI::App* sub = app.add_subcommand(
        "restore",
        "Make a scale hold exactly what a snapshot says, every byte: the store's snapshot of a "
        "backup (the newest, or the one of --from DATE), or a reader's file (--from FILE). It "
        "says first what it undoes, sends every record and reads each back.");
    sub->add_option("SCALE", options->scale, "the scale: 1S1, or its name in the shop file")
        ->required();
    sub->add_option("--from", options->from,
                    "YYYY-MM-DD: the store's backup of that day; or a backup file");
    sub->add_option("--from-scale", options->from_scale,
                    "restore a snapshot of this other scale, on purpose");
    sub->add_option("--plu", options->plu, "only these PLUs of the snapshot: 1-50,77");
    sub->add_flag("--changed", options->changed,
                  "send only the records that differ from what the store knows the scale holds");
    sub->add_flag("--no-verify", options->no_verify, "do not read the records back");
    sub->add_flag("--dry-run", options->dry_run, "say what would be sent, and send nothing");
    sub->add_flag("-y,--yes", options->yes,
                  "send without asking (needed when standard input is not a terminal)");
    sub->add_option("--log", options->log,
                    "the result log (default: ktnet-restore-YYYYMMDD-HHMMSS.jsonl here)");
    add_device_options(*sub, options->device, true);
    sub->footer(
        "Exit status: 0 the scale holds the snapshot, 1 a record failed or the question was "
        "answered no, 2 trouble (no snapshot, a file with problems, another scale's snapshot "
        "without --from-scale, no controller), 5 the controller is held by another run, 128+N "
        "stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_restore(*options, env, output); };
    });
}

}  // namespace ktnet
