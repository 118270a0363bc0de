#include "backup.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/exit_status.hpp"
#include "cli/replaced_file.hpp"
#include "plu_files.hpp"
#include "progress.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

struct ScaleResult {
    ScaleAddress address;
    std::size_t records = 0;
    double seconds = 0;
    std::string result{};  // "ok", or why it failed
    std::filesystem::path file{};
    bool ok = false;
};

// The lines as one text, written under a temporary name and renamed into place.
bool store_backup(const std::filesystem::path& final_path, const std::vector<FormattedLine>& lines,
                  std::string& why) {
    std::vector<std::uint8_t> text;
    text.reserve(lines.size() * formatted_line_length);
    for (const FormattedLine& line : lines) text.insert(text.end(), line.begin(), line.end());
    const FileStatus stored = replace_file(final_path, text);
    if (!stored) why = "cannot write " + final_path.string() + ": " + stored.error().reason;
    return static_cast<bool>(stored);
}

}  // namespace

std::filesystem::path backup_path(const std::filesystem::path& dir, const ScaleAddress& scale,
                                  std::chrono::system_clock::time_point when) {
    const std::tm local = fmt::localtime(std::chrono::system_clock::to_time_t(when));
    return dir / fmt::format("{}-{:%Y-%m-%d}.txt", scale.text(), local);
}

int run_backup(const BackupOptions& options, ShopEnvironment& env, std::ostream& out,
               std::ostream& err) {
    const auto fail = [&err](const std::string& why) {
        err << "ktnet backup: " << why << '\n';
        return ktnet_status::trouble;
    };
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) return fail(shop.error);
    const ScaleSelection chosen = select_scales(options.scales, *shop.shop);
    if (!chosen.error.empty()) return fail(chosen.error);
    const auto range = parse_number_range(options.plu, 0, 10000);
    if (!range)
        return fail(
            fmt::format("--plu {}: not a rising range A-B of PLUs 0 to 10000", options.plu));
    const auto dir = path_of(options.dir);
    std::error_code ec;
    if (!dir || !std::filesystem::is_directory(*dir, ec))
        return fail(fmt::format("--dir {}: not a folder", options.dir));

    int status = ktnet_status::success;
    auto connection = Connection::open(env, options.device, "ktnet backup", err, status);
    if (!connection) return status;

    const auto today = env.now();
    const std::vector<std::uint32_t> plus = plu_range(range->first, range->last);
    std::vector<ScaleResult> results;
    Progress progress(err, env.error_is_terminal, "ktnet backup");
    for (const ScaleAddress& scale : chosen.scales) {
        ScaleResult r{scale};
        r.file = backup_path(*dir, scale, today);
        progress.start(shop.shop->label(scale), plus.size());
        const auto started = Clock::now();
        const ScaleRead read =
            read_records(*connection, scale, plus, [&](std::size_t n) { progress.step(n); });
        r.records = read.records.size();
        if (read.complete) {
            std::vector<FormattedLine> lines;
            lines.reserve(read.records.size());
            for (const RecordFrame& record : read.records)
                lines.push_back(format_line(scale, record));
            r.ok = store_backup(r.file, lines, r.result);
            if (r.ok) r.result = "ok";
        } else {
            r.result = fmt::format("PLU {}: {}; previous backup kept", read.failure.plu_asked,
                                   describe_failure(read.failure));
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        progress.finish(r.result);
        results.push_back(r);
        if (read.failure.verdict == Answer::Verdict::interrupted) {
            status = exit_status::stopped_by(connection->stop_signal());
            break;
        }
        if (!r.ok) status = ktnet_status::problems;
    }

    if (options.device.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ScaleResult& r : results) {
            list.push_back({{"address", r.address.text()},
                            {"name", shop.shop->name_of(r.address)},
                            {"records", r.records},
                            {"seconds", r.seconds},
                            {"ok", r.ok},
                            {"result", r.result},
                            {"file", r.ok ? r.file.string() : std::string()}});
        }
        const nlohmann::json doc = {{"scales", list}, {"status", status}};
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return status;
    }
    out << fmt::format("{:<6}{:<16}{:>8}{:>10}  {}\n", "scale", "name", "records", "time",
                       "result");
    for (const ScaleResult& r : results) {
        out << fmt::format("{:<6}{:<16}{:>8}{:>10}  {}\n", r.address.text(),
                           shop.shop->name_of(r.address), r.records,
                           Progress::duration_text(std::chrono::duration<double>(r.seconds)),
                           r.ok ? fmt::format("ok: {}", r.file.string()) : r.result);
    }
    return status;
}

void add_backup(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<BackupOptions>();
    CLI::App* sub = app.add_subcommand(
        "backup",
        "Read each scale into DIR/<address>-<YYYY-MM-DD>.txt in the reader's exact format, so "
        "that rdk, ldk and ktnet all read it. A backup is renamed into place only when complete: "
        "a scale that fails keeps its previous backup, and the next scale goes on.");
    sub->add_option("SCALES", options->scales,
                    "scales: 1S1, a name from the shop file, 1S1,2T3, 1S1-9, or all")
        ->required();
    sub->add_option("--plu", options->plu, "the PLUs to read, A-B")->capture_default_str();
    sub->add_option("--dir", options->dir, "the folder of the backups")->capture_default_str();
    add_device_options(*sub, options->device, true);
    sub->footer(
        "Exit status: 0 every scale backed up, 1 a scale failed (its previous backup is kept), "
        "2 a bad command line or no controller, 5 the controller is held by another run, "
        "128+N stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_backup(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
