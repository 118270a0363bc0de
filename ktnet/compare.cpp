#include "compare.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>

#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"
#include "plu_files.hpp"
#include "progress.hpp"
#include "record_fields.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

constexpr std::size_t byte65_field = 19;  // columns 118-119
static_assert(plu_fields[byte65_field].encoding == FieldEncoding::decimal_out_bcd_in);

constexpr std::string_view byte65_reason =
    "columns 118-119 are written as a decimal number and loaded as BCD, so a copy through a "
    "PLU file changes values over 9";
constexpr std::string_view byte36_reason =
    "byte 36 is in no PLU line, so a copy through a file stores 0 there";

// What a copy through a file makes of columns 118-119: the byte the loader stores for them,
// written back as the reader writes it.
std::string copied_byte65(const std::string& text) {
    RecordFrame record{};
    record[plu_fields[byte65_field].frame_byte] =
        static_cast<std::uint8_t>(16 * (text[0] - '0') + (text[1] - '0'));
    return field_text(record, byte65_field);
}

std::string quoted(const std::string& s) {
    return fmt::format("\"{}\"", s);
}

}  // namespace

std::optional<CompareSource> file_source(std::string label, const std::vector<std::string>& lines,
                                         std::string& error) {
    CompareSource source{std::move(label)};
    const PluField& f65 = plu_fields[byte65_field];
    for (std::size_t n = 1; n <= lines.size(); ++n) {
        const std::string& text = lines[n - 1];
        if (const auto problem = find_line_refusal(text)) {
            error = fmt::format("{}:{}: {} (ktnet check tells more)", source.label, n, *problem);
            return std::nullopt;
        }
        CompareSource::Entry entry;
        (void)parse_line(text, entry.record);
        // Past the end of a short line a number column reads as "0".
        for (std::size_t c = f65.column; c < f65.column + 2u; ++c)
            entry.byte65_text += c < text.size() ? text[c] : '0';
        source.records[record_plu(entry.record)] = std::move(entry);
    }
    return source;
}

CompareSource scale_source(std::string label, const std::vector<RecordFrame>& records) {
    CompareSource source{std::move(label), true};
    for (const RecordFrame& record : records)
        source.records[record_plu(record)] = {record, field_text(record, byte65_field)};
    return source;
}

PairComparison compare_sources(const CompareSource& a, const CompareSource& b) {
    static const NameDisplay names;
    PairComparison result;
    auto ia = a.records.begin();
    auto ib = b.records.begin();
    while (ia != a.records.end() || ib != b.records.end()) {
        if (ib == b.records.end() || (ia != a.records.end() && ia->first < ib->first)) {
            result.only_in_a.push_back((ia++)->first);
            continue;
        }
        if (ia == a.records.end() || ib->first < ia->first) {
            result.only_in_b.push_back((ib++)->first);
            continue;
        }
        ++result.compared;
        const auto& [ra, ta] = ia->second;
        const auto& [rb, tb] = ib->second;
        PluDifference differ{ia->first}, known{ia->first};
        const std::vector<std::size_t> fields = differing_fields(ra, rb);
        if (!fields.empty()) {
            const FormattedLine la = line_of(ra), lb = line_of(rb);
            for (const std::size_t f : fields) {
                if (f == byte65_field) continue;  // compared as the lines show it, below
                if (plu_fields[f].encoding == FieldEncoding::raw) {
                    differ.fields.push_back(
                        {field_name(f), quoted(names.of(ra)), quoted(names.of(rb))});
                } else {
                    differ.fields.push_back({field_name(f), field_text(la, f), field_text(lb, f)});
                }
            }
        }
        if (ta != tb) {
            FieldDifference d{field_name(byte65_field), ta, tb};
            if (copied_byte65(ta) == tb || copied_byte65(tb) == ta) {
                d.reason = byte65_reason;
                known.fields.push_back(d);
            } else {
                differ.fields.push_back(d);
            }
        }
        const std::uint8_t a36 = ra[unused_frame_byte], b36 = rb[unused_frame_byte];
        if (a.scale && b.scale && a36 != b36) {
            FieldDifference d{"byte36", std::to_string(a36), std::to_string(b36)};
            if (a36 == 0 || b36 == 0) {
                d.reason = byte36_reason;
                known.fields.push_back(d);
            } else {
                differ.fields.push_back(d);
            }
        }
        if (!differ.fields.empty()) result.differing.push_back(std::move(differ));
        if (!known.fields.empty()) result.known.push_back(std::move(known));
        ++ia;
        ++ib;
    }
    return result;
}

namespace {

nlohmann::json json_of(const std::vector<PluDifference>& list) {
    nlohmann::json out = nlohmann::json::array();
    for (const PluDifference& d : list) {
        nlohmann::json fields = nlohmann::json::array();
        for (const FieldDifference& f : d.fields) {
            nlohmann::json j = {{"field", f.field}, {"a", f.a}, {"b", f.b}};
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
                const PairComparison& c) {
    std::string summary;
    if (c.equal()) {
        summary = fmt::format("equal ({} PLU{})", c.compared, c.compared == 1 ? "" : "s");
    } else {
        summary = fmt::format(
            "{} differ{}, {} only in {}, {} only in {}",
            c.differing.size() == 1 ? "1 PLU" : fmt::format("{} PLUs", c.differing.size()),
            c.differing.size() == 1 ? "s" : "", c.only_in_a.size(), a.label, c.only_in_b.size(),
            b.label);
    }
    if (!c.known.empty()) {
        summary += fmt::format("; {} PLU{} with known format differences only a copy makes",
                               c.known.size(), c.known.size() == 1 ? "" : "s");
    }
    // One buffer for the whole pair: thousands of differing PLUs print in one write.
    fmt::memory_buffer text;
    fmt::format_to(std::back_inserter(text), "{} <> {}: {}\n", a.label, b.label, summary);
    for (const PluDifference& d : c.differing) {
        fmt::format_to(std::back_inserter(text), "  PLU {}:", d.plu);
        for (const FieldDifference& f : d.fields)
            fmt::format_to(std::back_inserter(text), " {} {} | {};", f.field, f.a, f.b);
        text.push_back('\n');
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!c.only_in_a.empty())
        out << fmt::format("  only in {}: PLU {}\n", a.label, plu_list(c.only_in_a));
    if (!c.only_in_b.empty())
        out << fmt::format("  only in {}: PLU {}\n", b.label, plu_list(c.only_in_b));
    // Known differences by kind: what they are, and where, briefly.
    std::map<std::string, std::vector<std::uint32_t>> known;
    std::map<std::string, std::string> reasons;
    for (const PluDifference& d : c.known) {
        for (const FieldDifference& f : d.fields) {
            known[f.field].push_back(d.plu);
            reasons[f.field] = f.reason;
        }
    }
    for (const auto& [field, plus] : known) {
        out << fmt::format("  known, {} in PLU {}: {}\n", field, plu_list(plus), reasons[field]);
    }
}

}  // namespace

int run_compare(const CompareOptions& options, ShopEnvironment& env, std::ostream& out,
                std::ostream& err) {
    const auto fail = [&err](const std::string& why) {
        err << "ktnet compare: " << why << '\n';
        return ktnet_status::trouble;
    };
    if (options.sources.size() < 2) return fail("give at least two files or scales");
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) return fail(shop.error);
    std::optional<NumberRange> range;
    if (!options.plu.empty()) {
        range = parse_number_range(options.plu, 0, 10000);
        if (!range)
            return fail(fmt::format("--plu {}: not a rising range A-B of 0 to 10000", options.plu));
    }

    // Files first: their PLUs say what to ask the scales for.
    std::vector<std::optional<CompareSource>> sources(options.sources.size());
    std::vector<std::optional<ScaleAddress>> scales(options.sources.size());
    std::set<std::uint32_t> file_plus;
    for (std::size_t i = 0; i < options.sources.size(); ++i) {
        const std::string& name = options.sources[i];
        scales[i] = single_scale(name, *shop.shop);
        if (scales[i]) continue;
        const auto lines = read_plu_lines(name);
        if (!lines) return fail(fmt::format("cannot read {}: {}", name, lines.error().reason));
        std::string error;
        sources[i] = file_source(name, *lines, error);
        if (!sources[i]) return fail(error);
        if (range) {
            std::erase_if(sources[i]->records, [&](const auto& r) {
                return r.first < range->first || r.first > range->last;
            });
        }
        for (const auto& [plu, entry] : sources[i]->records) file_plus.insert(plu);
    }
    std::vector<std::uint32_t> ask;
    if (range) {
        ask = plu_range(range->first, range->last);
    } else if (std::any_of(sources.begin(), sources.end(), [](const auto& s) { return s; })) {
        // A request carries 16 bits of the PLU number.
        for (const std::uint32_t p : file_plus)
            if (p <= 0xFFFF) ask.push_back(p);
    } else {
        ask = plu_range(1, 10000);
    }

    if (std::any_of(scales.begin(), scales.end(), [](const auto& s) { return s; })) {
        int status = ktnet_status::success;
        auto connection = Connection::open(env, options.device, "ktnet compare", err, status);
        if (!connection) return status;
        Progress progress(err, env.error_is_terminal, "ktnet compare");
        for (std::size_t i = 0; i < scales.size(); ++i) {
            if (!scales[i]) continue;
            const std::string label = shop.shop->label(*scales[i]);
            const auto records = read_whole_scale(*connection, *scales[i], label, ask, progress,
                                                  "ktnet compare", err, status);
            if (!records) return status;
            sources[i] = scale_source(label, *records);
        }
    }

    int status = ktnet_status::success;
    nlohmann::json pairs = nlohmann::json::array();
    for (std::size_t i = 1; i < sources.size(); ++i) {
        const PairComparison c = compare_sources(*sources[0], *sources[i]);
        if (!c.equal()) status = ktnet_status::problems;
        if (options.device.json) {
            pairs.push_back({{"a", sources[0]->label},
                             {"b", sources[i]->label},
                             {"equal", c.equal()},
                             {"compared", c.compared},
                             {"differ", json_of(c.differing)},
                             {"only_in_a", c.only_in_a},
                             {"only_in_b", c.only_in_b},
                             {"known", json_of(c.known)}});
        } else {
            print_pair(out, *sources[0], *sources[i], c);
        }
    }
    if (options.device.json) {
        const nlohmann::json doc = {{"pairs", pairs}, {"status", status}};
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    }
    return status;
}

void add_compare(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<CompareOptions>();
    CLI::App* sub = app.add_subcommand(
        "compare",
        "Compare PLU files and scales by PLU number, field by field (fields named by their line "
        "columns; columns 0-8, the address, are left out). The first is compared with each of "
        "the others.");
    sub->add_option("SOURCES", options->sources,
                    "PLU files, or scales (1S1 or a name from the shop file; ./1S1 is a file)")
        ->required()
        ->expected(2, -1);
    sub->add_option("--plu", options->plu,
                    "compare PLUs A-B only (default: the PLUs the files hold; 1-10000 for scales "
                    "alone)");
    add_device_options(*sub, options->device, true);
    sub->footer(
        "Two differences any copy through a PLU file makes are shown apart, as known, and do "
        "not make the sources differ: byte 36 (in no line; a copy stores 0) between two scales, "
        "and columns 118-119 (written as a decimal number, loaded as BCD). Exit status: 0 "
        "equal, 1 different, 2 trouble, 5 the controller is held by another run, 128+N stopped "
        "by signal N.");
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_compare(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
