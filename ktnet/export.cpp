#include "export.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu_csv.hpp"
#include "plu_files.hpp"

namespace ktnet {

int run_export(const ExportOptions& options, std::ostream& out, std::ostream& err) {
    const auto settings = text_settings("export", options.code_page, options.separator, err);
    if (!settings) return ktnet_status::trouble;
    if (ScaleAddress::parse(options.source)) {
        err << fmt::format(
            "ktnet export: {} is a scale, and reading scales is not available in this version: "
            "read it into a file with rdk, then export the file (write ./{} for a file of that "
            "name)\n",
            options.source, options.source);
        return ktnet_status::trouble;
    }
    auto lines = read_plu_lines(options.source);
    if (!lines) {
        err << fmt::format("ktnet export: cannot read {}: {}\n", options.source,
                           lines.error().reason);
        return ktnet_status::trouble;
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

void add_export(CLI::App& app, Command& chosen) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* sub = app.add_subcommand(
        "export",
        "Write a PLU file as CSV, one row per record: columns plu, name, then one per setting "
        "field named after its line columns (c41_46 ...). Names are converted from the scales' "
        "code page to UTF-8.");
    sub->add_option("SOURCE", options->source, "a PLU file (a scale such as 1S1 is not yet read)")
        ->required();
    sub->add_option("-o,--output", options->output, "the CSV file (default: standard output)");
    add_code_page_options(*sub, options->code_page, options->separator);
    sub->footer(
        "Exit status: 0 written, 1 lines that cannot be exported (nothing written), 2 a bad "
        "option or a file that cannot be read or written.");
    sub->callback([options, &chosen] {
        chosen = [options](std::ostream& out, std::ostream& err) {
            return run_export(*options, out, err);
        };
    });
}

}  // namespace ktnet
