#include "check.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>

#include "base/text.hpp"
#include "formats/file_kind.hpp"
#include "formats/plu_files.hpp"
#include "plu/file_check.hpp"

namespace ktnet {

namespace {

struct FileReport {
    std::vector<Finding> shown;
    std::size_t problems = 0, notes = 0, not_shown = 0;
    std::string looks_like{};  // what a file of problems looks like instead, with what to do
};

// The findings of one file, read line by line; the reason when it cannot be read.
FileResult<FileReport> check_file(const std::string& name, const CheckOptions& options) {
    FileReport report;
    PluFileChecker checker({.for_ldk = options.for_ldk}, [&](Finding&& f) {
        (f.is_problem() ? report.problems : report.notes) += 1;
        if (report.shown.size() < options.max_findings) {
            report.shown.push_back(std::move(f));
        } else {
            ++report.not_shown;
        }
    });
    std::string first_line;
    auto read = read_plu_file(name, [&](std::size_t n, std::string_view line) {
        if (n == 1) first_line = line;
        checker.line(line);
        return true;
    });
    if (!read) return read.error();
    if (read->not_plu_line) {
        checker.end({});
        return file_refused(FileError::Kind::not_a_file,
                            describe_not_plu_line(*read->not_plu_line));
    }
    checker.end({read->end.at_mark, read->end.mid_line, read->end.bytes_after});
    if (report.problems > 0) report.looks_like = what_it_looks_like(first_line).value_or("");
    return report;
}

std::string count(std::size_t n, std::string_view what) {
    return fmt::format("{} {}{}", n, what, n == 1 ? "" : "s");
}

}  // namespace

int run_check(const CheckOptions& options, RunOutput& output) {
    apply(options.output, output);
    int status = ktnet_status::success;
    nlohmann::json report = nlohmann::json::array();
    for (const std::string& name : options.files) {
        const auto checked = check_file(name, options);
        if (!checked) {
            const std::string why = "cannot read " + name + ": " + checked.error().reason;
            output.error(why);
            if (output.json()) report.push_back({{"file", name}, {"error", why}});
            status = ktnet_status::trouble;
            continue;
        }
        if (checked->problems > 0) status = std::max(status, ktnet_status::problems);
        if (output.json()) {
            nlohmann::json list = nlohmann::json::array();
            for (const Finding& f : checked->shown) {
                list.push_back({{"line", f.line},
                                {"column", f.column},
                                {"kind", kind_name(f.kind)},
                                {"severity", f.is_problem() ? "problem" : "note"},
                                {"message", f.message}});
            }
            report.push_back({{"file", name},
                              {"findings", std::move(list)},
                              {"problems", checked->problems},
                              {"notes", checked->notes},
                              {"not_shown", checked->not_shown}});
            continue;
        }
        const std::string shown_name = printable(name);
        fmt::memory_buffer text;
        for (const Finding& f : checked->shown) {
            fmt::format_to(std::back_inserter(text), "{}:{}: {}{}\n", shown_name, f.line,
                           f.is_problem() ? "" : "note: ", f.message);
        }
        if (checked->not_shown > 0) {
            fmt::format_to(std::back_inserter(text), "{}: and {} more not shown (--max-findings)\n",
                           shown_name, checked->not_shown);
        }
        if (!checked->looks_like.empty())
            fmt::format_to(std::back_inserter(text), "{}: {}\n", shown_name, checked->looks_like);
        fmt::format_to(std::back_inserter(text), "{}: {}{}\n", shown_name,
                       checked->problems == 0 ? "no problems" : count(checked->problems, "problem"),
                       checked->notes == 0 ? "" : ", " + count(checked->notes, "note"));
        output.out().write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    if (output.json()) output.document({{"files", std::move(report)}, {"status", status}});
    return status;
}

void add_check(CLI::App& app, Command& chosen, ShopEnvironment&) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* sub = app.add_subcommand(
        "check",
        "Report every problem of PLU files, each with its line and column: lines too long or cut "
        "short, characters the reader never writes in a number column, duplicate PLU numbers, "
        "PLUs above 65535, names holding a line feed or 0x1A, and as notes names that look like "
        "UTF-8. ktnet load refuses a file with any problem.");
    sub->add_option("FILE", options->files, "PLU files")->required();
    add_output_options(*sub, options->output, true);
    sub->add_flag("--for-ldk", options->for_ldk,
                  "also report columns 118-119 that ldk would store differently (it reads them "
                  "back as BCD, so only 00 to 09 survive)");
    sub->add_option("--max-findings", options->max_findings,
                    "findings shown per file; the rest are counted")
        ->capture_default_str();
    sub->footer(
        "Exit status: 0 no problems (notes do not count), 1 problems found, 2 a file could not be "
        "read.");
    sub->callback([options, &chosen] {
        chosen = [options](RunOutput& output) { return run_check(*options, output); };
    });
}

}  // namespace ktnet
