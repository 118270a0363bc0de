#include "import.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "cli/locked_file.hpp"
#include "cli/replaced_file.hpp"
#include "formats/csv.hpp"
#include "formats/plu_csv.hpp"
#include "formats/plu_files.hpp"
#include "link/scale_address.hpp"
#include "options_common.hpp"
#include "plu/file_check.hpp"

namespace ktnet {

namespace {

constexpr std::size_t max_listed = 20;

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

int run_import(const ImportOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.said, output);
    const auto settings = text_settings(options.code_page, options.separator, output);
    if (!settings) return ktnet_status::trouble;
    const auto scale = ScaleAddress::parse(options.scale);
    if (!scale) {
        return output.fail(
            fmt::format("--scale '{}' is not a scale such as 1S1 or 2T3", options.scale));
    }
    if (same_file(options.output, options.input))
        return output.fail(fmt::format("-o {} is the CSV file read: name another", options.output));
    const auto in_path = path_of(options.input);
    auto input = in_path ? LockedFile::open_for_reading(*in_path)
                         : FileResult<LockedFile>(
                               file_refused(FileError::Kind::system, "the name is not valid here"));
    if (!input)
        return output.fail(fmt::format("cannot read {}: {}", options.input, input.error().reason));
    auto target = ReplacementFile::begin(options.output, ReplacementFile::Name::users);
    if (!target)
        return output.fail(
            fmt::format("cannot write {}: {}", options.output, target.error().reason));

    std::size_t problems = 0;
    const auto report = [&](CellProblem&& p) {
        if (++problems <= max_listed)
            output.error(fmt::format("{}: {}: {}", options.input, place(p), p.message));
    };
    ImportSettings import_settings{settings->separator, *scale, options.fill_zero};
    PluCsvImport import(settings->code_page, import_settings, report);
    // Every line written also passes the rules of ktnet check and load, as the row it came from.
    std::vector<std::uint32_t> row_of_line;
    PluFileChecker checker({}, [&](Finding&& f) {
        if (f.is_problem())
            report({row_of_line.at(f.line - 1), static_cast<std::size_t>(-1), "", f.message});
    });
    CsvReader reader(settings->separator);
    std::size_t lines = 0;
    FileStatus written;
    std::array<std::uint8_t, 65536> block;
    bool rows_seen = false;
    for (bool ended = false; !ended;) {
        // Ctrl+C stops between two blocks of rows; nothing is written then.
        if (const int signal = env.context.stop_signal()) return exit_status::stopped_by(signal);
        const auto n = input->read(block);
        if (!n)
            return output.fail(fmt::format("cannot read {}: {}", options.input, n.error().reason));
        ended = *n == 0;
        if (ended) {
            reader.finish();
        } else {
            reader.feed({reinterpret_cast<const char*>(block.data()), *n});
        }
        while (auto row = reader.next_row()) {
            rows_seen = true;
            auto line = import.row(*row);
            if (!line || !import.clean() || !written) continue;
            row_of_line.push_back(static_cast<std::uint32_t>(row->number));
            ++lines;
            checker.line({reinterpret_cast<const char*>(line->data()), line_columns + 1});
            written = target->write_text(*line);
        }
        if (reader.error()) {
            const CsvError& e = *reader.error();
            report({e.row, e.column, "", e.message});
            break;
        }
    }
    checker.end({});
    if (!rows_seen) report({1, static_cast<std::size_t>(-1), "", "there is no header row"});
    if (problems > 0) {
        if (problems > max_listed) output.error(fmt::format("and {} more", problems - max_listed));
        output.error(fmt::format("{} not written: {} problem{}", options.output, problems,
                                 problems == 1 ? "" : "s"));
        return ktnet_status::problems;
    }
    if (written) written = target->commit();
    if (!written)
        return output.fail(
            fmt::format("cannot write {}: {}", options.output, written.error().reason));
    output.out() << fmt::format("{}: {} record{} written for scale {}\n", printable(options.output),
                                lines, lines == 1 ? "" : "s", scale->text());
    return ktnet_status::success;
}

void add_import(CLI::App& app, Command& chosen, ShopEnvironment& env) {
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
    add_output_options(*sub, options->said, false);
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_import(*options, env, output); };
    });
}

}  // namespace ktnet
