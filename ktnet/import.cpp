#include "import.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "csv.hpp"
#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu_csv.hpp"
#include "plu_files.hpp"

namespace ktnet {

namespace {

std::string place(const CellProblem& p) {
    std::string where = fmt::format("row {}", p.row);
    if (p.column != static_cast<std::size_t>(-1)) {
        where += fmt::format(", column {}", column_letters(p.column));
        if (!p.column_name.empty()) where += fmt::format(" ({})", p.column_name);
    } else if (!p.column_name.empty()) {
        where += fmt::format(", column {}", p.column_name);
    }
    return where;
}

}  // namespace

int run_import(const ImportOptions& options, std::ostream& out, std::ostream& err) {
    const auto settings = text_settings("import", options.code_page, options.separator, err);
    if (!settings) return ktnet_status::trouble;
    const auto scale = ScaleAddress::parse(options.scale);
    if (!scale) {
        err << fmt::format("ktnet import: --scale '{}' is not a scale such as 1S1 or 2T3\n",
                           options.scale);
        return ktnet_status::trouble;
    }
    auto text = read_file_bytes(options.input);
    if (!text) {
        err << fmt::format("ktnet import: cannot read {}: {}\n", options.input,
                           text.error().reason);
        return ktnet_status::trouble;
    }
    ImportSettings import_settings{settings->separator, *scale, options.fill_zero};
    const CsvImport result = import_csv(*text, settings->code_page, import_settings);
    if (!result.problems.empty()) {
        for (const CellProblem& p : result.problems)
            err << fmt::format("ktnet import: {}: {}: {}\n", options.input, place(p), p.message);
        err << fmt::format("ktnet import: {} not written: {} problem{}\n", options.output,
                           result.problems.size(), result.problems.size() == 1 ? "" : "s");
        return ktnet_status::problems;
    }
    if (const auto written = write_plu_file(options.output, result.lines); !written) {
        err << fmt::format("ktnet import: cannot write {}: {}\n", options.output,
                           written.error().reason);
        return ktnet_status::trouble;
    }
    out << fmt::format("{}: {} record{} written for scale {}\n", options.output,
                       result.lines.size(), result.lines.size() == 1 ? "" : "s", scale->text());
    return ktnet_status::success;
}

void add_import(CLI::App& app, Command& chosen) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand(
        "import",
        "Turn a CSV file written by export (and edited) back into a PLU file in the reader's "
        "exact format. Every problem is reported with its row and column, and then the output "
        "file is not written.");
    sub->add_option("IN", options->input, "the CSV file")->required();
    sub->add_option("-o,--output", options->output, "the PLU file to write")->required();
    sub->add_option("--scale", options->scale, "the scale shown in columns 0-8, e.g. 2T3")
        ->capture_default_str();
    sub->add_flag("--fill-zero", options->fill_zero,
                  "fill a missing setting column with zeros instead of refusing");
    add_code_page_options(*sub, options->code_page, options->separator);
    sub->footer(
        "Exit status: 0 written, 1 problems in the CSV (nothing written), 2 a bad option or a "
        "file that cannot be read or written.");
    sub->callback([options, &chosen] {
        chosen = [options](std::ostream& out, std::ostream& err) {
            return run_import(*options, out, err);
        };
    });
}

}  // namespace ktnet
