#include "check.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>

#include "plu/file_check.hpp"
#include "plu_files.hpp"

namespace ktnet {

int run_check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
    int status = ktnet_status::success;
    nlohmann::json report = nlohmann::json::array();
    for (const std::string& name : options.files) {
        auto bytes = read_file_bytes(name);
        if (!bytes) {
            const std::string why = "cannot read " + name + ": " + bytes.error().reason;
            err << "ktnet check: " << why << '\n';
            if (options.json) report.push_back({{"file", name}, {"error", why}});
            status = ktnet_status::trouble;
            continue;
        }
        const auto findings =
            check_plu_file({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
        if (!findings.empty()) status = std::max(status, ktnet_status::problems);
        if (options.json) {
            nlohmann::json list = nlohmann::json::array();
            for (const Finding& f : findings) {
                list.push_back({{"line", f.line},
                                {"column", f.column},
                                {"kind", kind_name(f.kind)},
                                {"message", f.message}});
            }
            report.push_back({{"file", name}, {"findings", std::move(list)}});
            continue;
        }
        for (const Finding& f : findings)
            out << fmt::format("{}:{}: {}\n", name, f.line, f.message);
        if (findings.empty()) {
            out << fmt::format("{}: no problems\n", name);
        } else {
            out << fmt::format("{}: {} problem{}\n", name, findings.size(),
                               findings.size() == 1 ? "" : "s");
        }
    }
    if (options.json) {
        const nlohmann::json document = {{"files", std::move(report)}, {"status", status}};
        // A file name that is not UTF-8 must not stop the report.
        out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    }
    return status;
}

void add_check(CLI::App& app, Command& chosen) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* sub = app.add_subcommand(
        "check",
        "Report every problem of PLU files, each with its line and column: lines too long or cut "
        "short, characters the reader never writes in a number column, duplicate PLU numbers, "
        "names holding a line feed or 0x1A, columns 118-119 that change on a copy from a scale, "
        "names that look like UTF-8.");
    sub->add_option("FILE", options->files, "PLU files")->required();
    sub->add_flag("--json", options->json, "one JSON document for scripts");
    sub->footer("Exit status: 0 no problems, 1 problems found, 2 a file could not be read.");
    sub->callback([options, &chosen] {
        chosen = [options](std::ostream& out, std::ostream& err) {
            return run_check(*options, out, err);
        };
    });
}

}  // namespace ktnet
