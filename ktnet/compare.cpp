#include "compare.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>
#include <set>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "shop/compare_sources.hpp"

namespace ktnet {

namespace {

// A field as the shop names it: "price (c41_46)"; "name", "byte36" and unnamed fields as they are.
std::string shown_field(const std::string& field, const FieldNames& names) {
    const auto k = names.find(field);
    return k && names.named(*k) ? names.shown(*k) : field;
}

nlohmann::json json_of(const std::vector<PluDifference>& list, const FieldNames& names) {
    nlohmann::json out = nlohmann::json::array();
    for (const PluDifference& d : list) {
        nlohmann::json fields = nlohmann::json::array();
        for (const FieldDifference& f : d.fields) {
            nlohmann::json j = {{"field", f.field}, {"a", f.a}, {"b", f.b}};
            if (const auto k = names.find(f.field); k && names.named(*k))
                j["name"] = names.name(*k);
            if (!f.reason.empty()) j["reason"] = f.reason;
            fields.push_back(j);
        }
        out.push_back({{"plu", d.plu}, {"fields", fields}});
    }
    return out;
}

std::string plu_list(const std::vector<std::uint32_t>& plus) {
    constexpr std::size_t shown = 20;
    std::string text = fmt::format(
        "{}", fmt::join(plus.begin(), plus.begin() + std::min(plus.size(), shown), ", "));
    if (plus.size() > shown) text += fmt::format(" and {} more", plus.size() - shown);
    return text;
}

void print_pair(std::ostream& out, const CompareSource& a, const CompareSource& b,
                const PairComparison& c, const FieldNames& names) {
    const std::string la = printable(a.label), lb = printable(b.label);
    std::string summary;
    if (c.equal()) {
        summary = fmt::format("equal ({} PLU{})", c.compared, c.compared == 1 ? "" : "s");
    } else {
        summary = fmt::format(
            "{} differ{}, {} only in {}, {} only in {}",
            c.differing.size() == 1 ? "1 PLU" : fmt::format("{} PLUs", c.differing.size()),
            c.differing.size() == 1 ? "s" : "", c.only_in_a.size(), la, c.only_in_b.size(), lb);
    }
    // One buffer for the whole pair: thousands of differing PLUs print in one write.
    fmt::memory_buffer text;
    fmt::format_to(std::back_inserter(text), "{} <> {}: {}\n", la, lb, summary);
    std::map<std::string, std::string> reasons;
    for (const PluDifference& d : c.differing) {
        fmt::format_to(std::back_inserter(text), "  PLU {}:", d.plu);
        for (const FieldDifference& f : d.fields) {
            const std::string field = shown_field(f.field, names);
            fmt::format_to(std::back_inserter(text), " {} {} | {}{};", field, printable(f.a),
                           printable(f.b), f.reason.empty() ? "" : " (see below)");
            if (!f.reason.empty()) reasons[field] = f.reason;
        }
        text.push_back('\n');
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!c.only_in_a.empty())
        out << fmt::format("  only in {}: PLU {}\n", la, plu_list(c.only_in_a));
    if (!c.only_in_b.empty())
        out << fmt::format("  only in {}: PLU {}\n", lb, plu_list(c.only_in_b));
    for (const auto& [field, reason] : reasons) out << fmt::format("  {}: {}\n", field, reason);
}

// One source of the command line: a file, or a scale of a list.
struct Named {
    std::string label;
    std::optional<ScaleAddress> scale;
};

}  // namespace

int run_compare(const CompareOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    const auto fields = fields_of(options.device, *shop, output);
    if (!fields) return ktnet_status::trouble;
    std::optional<NumberSet> chosen;
    if (!options.plu.empty()) {
        auto plus = parse_number_set(options.plu, 0, highest_request_plu);
        if (!plus) return output.fail("--plu: " + plus.error());
        chosen = std::move(*plus);
    }
    std::vector<Named> named;
    for (const std::string& source : options.sources) {
        if (const auto scales = scales_of_source(source, *shop)) {
            for (const ScaleAddress& s : *scales) named.push_back({shop->label(s), s});
        } else {
            named.push_back({source, std::nullopt});
        }
    }
    if (named.size() < 2) return output.fail("give at least two files or scales");

    // Files first: their PLUs say what to ask the scales for.
    std::vector<std::optional<CompareSource>> sources(named.size());
    std::set<std::uint32_t> file_plus;
    for (std::size_t i = 0; i < named.size(); ++i) {
        if (named[i].scale) continue;
        auto file = file_source(named[i].label);
        if (!file) return output.fail(file.error());
        if (chosen)
            std::erase_if(file->records, [&](const auto& r) { return !chosen->contains(r.first); });
        for (const auto& [plu, entry] : file->records) file_plus.insert(plu);
        sources[i] = std::move(*file);
    }
    std::vector<std::uint32_t> ask;
    if (chosen) {
        ask = chosen->numbers();
    } else if (std::any_of(named.begin(), named.end(), [](const Named& n) { return !n.scale; })) {
        for (const std::uint32_t p : file_plus)
            if (p <= highest_request_plu) ask.push_back(p);
    } else {
        ask = plu_range(1, default_last_plu);
    }

    if (std::any_of(named.begin(), named.end(), [](const Named& n) { return n.scale; })) {
        auto connection = connect(env, options.device, output);
        if (!connection) return connection.error();
        for (std::size_t i = 0; i < named.size(); ++i) {
            if (!named[i].scale) continue;
            output.progress().start(named[i].label, ask.size());
            const ScaleRead read =
                read_records(**connection, *named[i].scale, ask,
                             [&](std::size_t n, const RecordFrame&) { output.progress().step(n); });
            output.progress().finish(read.complete ? "read" : "failed");
            if (read.stopped()) return exit_status::stopped_by(env.context.stop_signal());
            if (!read.complete) {
                return output.fail(fmt::format("{}: PLU {}: {}", named[i].label,
                                               read.failure.plu_asked,
                                               (*connection)->describe(read.failure)));
            }
            sources[i] = scale_source(named[i].label, read.records);
        }
    }

    int status = ktnet_status::success;
    nlohmann::json pairs = nlohmann::json::array();
    for (std::size_t i = 1; i < sources.size(); ++i) {
        const PairComparison c = compare_sources(*sources[0], *sources[i]);
        if (!c.equal()) status = ktnet_status::problems;
        if (output.json()) {
            pairs.push_back({{"a", sources[0]->label},
                             {"b", sources[i]->label},
                             {"equal", c.equal()},
                             {"compared", c.compared},
                             {"differ", json_of(c.differing, fields->names)},
                             {"only_in_a", c.only_in_a},
                             {"only_in_b", c.only_in_b}});
        } else {
            print_pair(output.out(), *sources[0], *sources[i], c, fields->names);
        }
    }
    if (output.json()) output.document({{"pairs", pairs}, {"status", status}});
    return status;
}

void add_compare(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<CompareOptions>();
    CLI::App* sub = app.add_subcommand(
        "compare",
        "Compare PLU files and scales by PLU number, field by field (fields named as the shop's "
        "fields file names them, with their line columns; columns 0-8, the address, are left "
        "out). The first is compared with each of the others. Every byte counts.");
    sub->add_option("SOURCES", options->sources,
                    "PLU files, or scales (1S1, a name from the shop file, 1S1,2T3, 1S1-9, all; "
                    "./1S1 is a file)")
        ->required()
        ->expected(1, -1);
    sub->add_option("--plu", options->plu,
                    "compare these PLUs only: 1-50,77 (default: the PLUs the files hold; 1-10000 "
                    "for scales alone)");
    add_fields_option(*sub, options->device);
    add_device_options(*sub, options->device, true);
    sub->footer(
        "A file is compared with a scale as the file's text with the scale's record as the "
        "reader writes it; two scales byte for byte, byte 36 (which no line carries) included. "
        "A difference a copy through ldk or a file explains says so, and still counts. Exit "
        "status: 0 equal, 1 different, 2 trouble, 5 the controller is held by another run, "
        "128+N stopped by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_compare(*options, env, output); };
    });
}

}  // namespace ktnet
