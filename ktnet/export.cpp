#include "export.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu/plu_line.hpp"
#include "plu_csv.hpp"
#include "plu_files.hpp"
#include "progress.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

// A scale's records over a range, as the lines a file of them holds (140 columns and the CR).
int read_scale_lines(const ExportOptions& options, const ScaleAddress& scale,
                     const std::string& label, ShopEnvironment& env, std::ostream& err,
                     std::vector<std::string>& lines) {
    const auto range = parse_number_range(options.plu, 0, 10000);
    if (!range) {
        err << fmt::format("ktnet export: --plu {}: not a rising range A-B of 0 to 10000\n",
                           options.plu);
        return ktnet_status::trouble;
    }
    int status = ktnet_status::success;
    auto connection = Connection::open(env, options.device, "ktnet export", err, status);
    if (!connection) return status;
    Progress progress(err, env.error_is_terminal, "ktnet export");
    const auto records =
        read_whole_scale(*connection, scale, label, plu_range(range->first, range->last), progress,
                         "ktnet export", err, status);
    if (!records) return status;
    for (const RecordFrame& record : *records) {
        const FormattedLine line = format_line(scale, record);
        lines.emplace_back(line.begin(), line.end() - 1);  // as a file gives it: without the LF
    }
    return ktnet_status::success;
}

}  // namespace

int run_export(const ExportOptions& options, ShopEnvironment& env, std::ostream& out,
               std::ostream& err) {
    const auto settings = text_settings("export", options.code_page, options.separator, err);
    if (!settings) return ktnet_status::trouble;
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) {
        err << "ktnet export: " << shop.error << '\n';
        return ktnet_status::trouble;
    }
    FileResult<std::vector<std::string>> lines = std::vector<std::string>{};
    if (const auto scale = single_scale(options.source, *shop.shop)) {
        const int read =
            read_scale_lines(options, *scale, shop.shop->label(*scale), env, err, *lines);
        if (read != ktnet_status::success) return read;
    } else {
        lines = read_plu_lines(options.source);
        if (!lines) {
            err << fmt::format("ktnet export: cannot read {}: {}\n", options.source,
                               lines.error().reason);
            return ktnet_status::trouble;
        }
    }
    const CsvExport csv = export_csv(*lines, settings->code_page, settings->separator);
    if (!csv.problems.empty()) {
        for (const LineProblem& p : csv.problems)
            err << fmt::format("ktnet export: {}:{}: {}\n", options.source, p.line, p.message);
        err << fmt::format(
            "ktnet export: nothing written: {} line{} cannot be exported (ktnet check tells "
            "more)\n",
            csv.problems.size(), csv.problems.size() == 1 ? "" : "s");
        return ktnet_status::problems;
    }
    if (options.output.empty()) {
        out << csv.text << std::flush;
        return ktnet_status::success;
    }
    if (const auto written = write_file_bytes(options.output, csv.text); !written) {
        err << fmt::format("ktnet export: cannot write {}: {}\n", options.output,
                           written.error().reason);
        return ktnet_status::trouble;
    }
    out << fmt::format("{}: {} record{} exported to {}\n", options.source, lines->size(),
                       lines->size() == 1 ? "" : "s", options.output);
    return ktnet_status::success;
}

void add_export(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* sub = app.add_subcommand(
        "export",
        "Write a PLU file or a scale as CSV, one row per record: columns plu, name, then one per "
        "setting field named after its line columns (c41_46 ...). Names are converted from the "
        "scales' code page to UTF-8.");
    sub->add_option("SOURCE", options->source,
                    "a PLU file, or a scale (1S1, or its name in the shop file; ./1S1 is a file)")
        ->required();
    sub->add_option("--plu", options->plu, "A-B: the PLUs read from a scale (default 1-10000)");
    sub->add_option("-o,--output", options->output, "the CSV file (default: standard output)");
    add_code_page_options(*sub, options->code_page, options->separator);
    add_device_options(*sub, options->device, false);
    sub->footer(
        "Exit status: 0 written, 1 lines that cannot be exported (nothing written), 2 a bad "
        "option, a file that cannot be read or written, or a scale that cannot be read, 5 the "
        "controller held by another run.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_export(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
