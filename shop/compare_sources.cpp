#include "shop/compare_sources.hpp"

#include <fmt/format.h>

#include "formats/plu_files.hpp"
#include "formats/record_fields.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

namespace {

constexpr std::size_t byte65_field = 19;  // columns 118-119
static_assert(plu_fields[byte65_field].encoding == FieldEncoding::decimal_out_bcd_in);

constexpr std::string_view byte65_reason =
    "as ldk stores columns 118-119: it reads them as BCD, so a copy through ldk changes values "
    "over 9";
constexpr std::string_view byte36_reason =
    "byte 36 is in no PLU line: a copy through a file, without what ktnet knew of the scale, "
    "stores 0 there";

std::string field_of(const std::string& text, std::size_t field) {
    const PluField& f = plu_fields[field];
    return text.substr(f.column, field_width(f));
}

// Columns 118-119 as a scale shows them after ldk stored these: the digits read as BCD, then
// written in decimal.
std::string through_ldk(const std::string& digits) {
    RecordFrame record{};
    record[plu_fields[byte65_field].frame_byte] =
        static_cast<std::uint8_t>(16 * (digits[0] - '0') + (digits[1] - '0'));
    return field_text(record, byte65_field);
}

std::string quoted(const std::string& s) {
    return fmt::format("\"{}\"", s);
}

}  // namespace

Result<CompareSource, std::string> file_source(const std::string& name) {
    CompareSource source{name};
    std::string error;
    const auto read = read_plu_file(name, [&](std::size_t n, std::string_view line) {
        if (const auto problem = find_line_refusal(line)) {
            error = fmt::format("{}:{}: {} (ktnet check tells more)", name, n, *problem);
            return false;
        }
        CompareSource::Entry entry;
        (void)parse_line_as_written(line, entry.record);
        entry.text = columns_as_read(line);
        source.records[record_plu(entry.record)] = std::move(entry);
        return true;
    });
    if (!read) return unexpected(fmt::format("cannot read {}: {}", name, read.error().reason));
    if (!error.empty()) return unexpected(std::move(error));
    if (read->not_plu_line)
        return unexpected(fmt::format("{}: {}", name, describe_not_plu_line(*read->not_plu_line)));
    return source;
}

CompareSource scale_source(std::string label, const std::vector<RecordFrame>& records) {
    CompareSource source{std::move(label), true};
    for (const RecordFrame& record : records) {
        const FormattedLine line = line_of(record);
        source.records[record_plu(record)] = {
            record, std::string(line.begin(), line.begin() + line_columns)};
    }
    return source;
}

PairComparison compare_sources(const CompareSource& a, const CompareSource& b) {
    static const NameDisplay names;
    const bool raw = a.scale && b.scale;
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
        PluDifference d{ia->first};
        for (std::size_t f = 0; f < plu_fields.size(); ++f) {
            const std::string fa = field_of(ta, f), fb = field_of(tb, f);
            if (fa == fb) continue;
            FieldDifference diff{field_name(f), fa, fb};
            if (plu_fields[f].encoding == FieldEncoding::raw) {
                diff.a = quoted(names.of(ra));
                diff.b = quoted(names.of(rb));
            }
            if (f == byte65_field && (through_ldk(fa) == fb || through_ldk(fb) == fa))
                diff.reason = byte65_reason;
            d.fields.push_back(std::move(diff));
        }
        if (raw && ra[unused_frame_byte] != rb[unused_frame_byte]) {
            FieldDifference diff{"byte36", std::to_string(ra[unused_frame_byte]),
                                 std::to_string(rb[unused_frame_byte])};
            if (ra[unused_frame_byte] == 0 || rb[unused_frame_byte] == 0)
                diff.reason = byte36_reason;
            d.fields.push_back(std::move(diff));
        }
        if (!d.fields.empty()) result.differing.push_back(std::move(d));
        ++ia;
        ++ib;
    }
    return result;
}

}  // namespace ktnet
