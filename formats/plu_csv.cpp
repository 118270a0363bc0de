#include "formats/plu_csv.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "base/limits.hpp"
#include "base/numbers.hpp"
#include "base/text.hpp"
#include "formats/name_text.hpp"
#include "link/little_endian.hpp"
#include "plu/line_check.hpp"

namespace ktnet {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr std::uint32_t digit_line_feed = static_cast<std::uint8_t>('\n' - '0');  // 218
constexpr std::uint32_t digit_end_mark = static_cast<std::uint8_t>(0x1A - '0');   // 234

bool is_name(const PluField& f) {
    return f.encoding == FieldEncoding::raw;
}
bool is_plu(const PluField& f) {
    return f.encoding == FieldEncoding::plu_number;
}
bool is_bcd(const PluField& f) {
    return f.encoding == FieldEncoding::bcd;
}

int digit_at(std::string_view line, std::size_t column) {
    return static_cast<std::uint8_t>(line[column]) - '0';
}

bool all_digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits with a decimal mark before the last decimals of them, the integer part without its
// leading zeros: "012999" with 2 decimals is "129,99".
std::string with_decimals(std::string digits, unsigned decimals, char mark) {
    if (decimals == 0) return digits;
    if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
    std::string whole = digits.substr(0, digits.size() - decimals);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    return whole + mark + digits.substr(digits.size() - decimals);
}

// A number as typed with decimals ("129,99", "129.99", "129"), as its digits with exactly the
// decimals given ("12999"); the reason when it is not one.
Result<std::string, std::string> typed_number(std::string_view value, unsigned decimals) {
    const std::size_t mark = value.find_first_of(",.");
    const std::string_view whole = value.substr(0, mark);
    const std::string_view fraction =
        mark == std::string_view::npos ? std::string_view{} : value.substr(mark + 1);
    if ((!whole.empty() && !all_digits(whole)) || (!fraction.empty() && !all_digits(fraction)) ||
        (whole.empty() && fraction.empty()))
        return unexpected(std::string("is not a number"));
    if (decimals == 0 && mark != std::string_view::npos)
        return unexpected(std::string("is a number with decimals, and the field holds none"));
    if (fraction.size() > decimals) {
        return unexpected(
            fmt::format("has {} decimals, and the field holds {}", fraction.size(), decimals));
    }
    std::string digits = std::string(whole.empty() ? "0" : whole) + std::string(fraction);
    digits.append(decimals - fraction.size(), '0');
    return digits;
}

}  // namespace

RecordFrame apply_patch(const RowPatch& patch, const RecordFrame& base) {
    RecordFrame record = base;
    for (const RowPatch::Value& v : patch.values) {
        const PluField& f = plu_fields[v.field];
        std::copy_n(v.bytes.begin(), f.bytes, record.begin() + f.frame_byte);
    }
    return record;
}

std::string PluCsvExport::header() const {
    std::string text(byte_order_mark);
    std::vector<std::string> header;
    for (std::size_t k = 0; k < plu_fields.size(); ++k) header.push_back(names_.name(k));
    append_csv_row(text, header, separator_);
    return text;
}

std::optional<std::string> PluCsvExport::append_row(std::string_view line, std::string& out) {
    if (auto refusal = find_line_refusal(line)) return refusal;
    const char mark = separator_ == ',' ? '.' : ',';
    const std::string columns = columns_as_read(line);
    row_.clear();
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        const PluField& f = plu_fields[k];
        const std::string_view text = std::string_view(columns).substr(f.column, field_width(f));
        const unsigned decimals = names_.decimals(k);
        switch (f.encoding) {
            case FieldEncoding::plu_number:
                row_.push_back(std::to_string(plu_number_of_line(columns)));
                break;
            case FieldEncoding::raw:
                row_.push_back(name_to_text(
                    {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, code_page_));
                break;
            case FieldEncoding::bcd:
                // Nibbles above 9 are no number: written as the line has them.
                row_.push_back(all_digits(text) ? with_decimals(std::string(text), decimals, mark)
                                                : std::string(text));
                break;
            case FieldEncoding::digit:
                row_.push_back(with_decimals(
                    std::to_string(static_cast<std::uint8_t>(digit_at(text, 0))), decimals, mark));
                break;
            case FieldEncoding::decimal:
            case FieldEncoding::decimal_out_bcd_in: {
                const int value = 10 * digit_at(text, 0) + digit_at(text, 1);
                if (value > 255) {
                    return fmt::format("columns {}-{} hold \"{}\", {}: more than a byte holds",
                                       f.column, f.column + 1, text, value);
                }
                row_.push_back(with_decimals(std::to_string(value), decimals, mark));
                break;
            }
        }
    }
    append_csv_row(out, row_, separator_);
    return std::nullopt;
}

struct PluCsvReader::State {
    bool header_read = false;
    bool header_failed = false;
    std::array<std::size_t, plu_fields.size()> source{};  // CSV column of each field, or npos
    std::size_t width = 0;                                // columns in the header
    std::vector<bool> named;                              // header columns with a name
    std::vector<std::uint32_t> row_of_plu;                // by PLU number; 0 = not seen
};

PluCsvReader::PluCsvReader(const CodePage& names_code_page, const FieldNames& names,
                           const CsvReadSettings& settings, Report report)
    : code_page_(names_code_page),
      names_(names),
      settings_(settings),
      report_([this, report = std::move(report)](CellProblem&& p) {
          ++problems_;
          report(std::move(p));
      }),
      state_(std::make_unique<State>()) {}

PluCsvReader::~PluCsvReader() = default;

bool PluCsvReader::whole() const {
    return std::none_of(state_->source.begin(), state_->source.end(),
                        [](std::size_t s) { return s == npos; });
}

std::optional<RowPatch> PluCsvReader::row(const CsvRow& row) {
    State& st = *state_;
    if (!st.header_read) {
        st.header_read = true;
        st.source.fill(npos);
        st.width = row.fields.size();
        st.named.assign(st.width, false);
        // A header of one column holding another separator: every column reads as one.
        if (st.width == 1 && row.fields.front().find_first_of(";,\t") != std::string::npos) {
            report_({row.number, npos, "",
                     fmt::format("the header is one column: is the CSV separated by another "
                                 "character than {} (see --sep)?",
                                 settings_.separator == '\t'
                                     ? std::string("tab")
                                     : fmt::format("'{}'", settings_.separator))});
            st.header_failed = true;
            return std::nullopt;
        }
        const std::size_t before = problems_;
        std::size_t given = 0;
        for (std::size_t i = 0; i < row.fields.size(); ++i) {
            const std::string name(trimmed(row.fields[i]));
            if (name.empty()) continue;  // a column a spreadsheet added; its cells must stay empty
            st.named[i] = true;
            const auto field = names_.find(name);
            if (!field) {
                report_({row.number, i, name,
                         fmt::format("unknown column (did you mean {}?): the columns are {}",
                                     names_.closest(name), fmt::join(names_.words(), ", "))});
                continue;
            }
            if (st.source[*field] != npos) {
                report_({row.number, i, names_.shown(*field), "the column is repeated"});
                continue;
            }
            st.source[*field] = i;
            ++given;
        }
        if (problems_ == before) {
            if (st.source[0] == npos) {
                report_({row.number, npos, "",
                         "the column plu is missing: it says which record a row is"});
            } else if (given < 2) {
                report_({row.number, npos, "",
                         "only plu is given: a CSV gives plu and at least one field to change"});
            }
        }
        st.header_failed = problems_ != before;
        return std::nullopt;
    }
    // Rows are read only under a header without problems: their columns mean nothing else.
    if (st.header_failed) return std::nullopt;
    const auto empty = [](const std::string& s) { return trimmed(s).empty(); };
    if (std::all_of(row.fields.begin(), row.fields.end(), empty)) return std::nullopt;
    const std::size_t before = problems_;
    RowPatch patch{row.number, 0, {}, false};
    patch.whole = whole();
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        const std::size_t source = st.source[k];
        if (source == npos) continue;
        const PluField& f = plu_fields[k];
        const std::string cell = source < row.fields.size() ? row.fields[source] : std::string();
        RowPatch::Value v{k, {}};
        const auto problem = [&](const std::string& why) {
            report_({row.number, source, names_.shown(k), why});
        };
        if (is_name(f)) {
            const auto name = text_to_name(cell, code_page_);
            if (!name) {
                problem(name.error());
                continue;
            }
            std::copy(name->begin(), name->end(), v.bytes.begin());
            patch.values.push_back(v);
            continue;
        }
        const std::string_view value = trimmed(cell);
        const std::string shown = std::string(value);
        if (value.empty()) {
            problem("the value is missing");
            continue;
        }
        if (is_plu(f)) {
            const auto n = parse_whole_number(value, highest_request_plu);
            if (!n) {
                problem(
                    fmt::format("{} is not a PLU number from 0 to 65535 (a request carries 16 "
                                "bits of it, so a scale could never be asked for a higher one)",
                                shown));
                continue;
            }
            patch.plu = *n;
            write_le24(*n, std::span<std::uint8_t, 3>(v.bytes.data(), 3));
            patch.values.push_back(v);
            continue;
        }
        const unsigned decimals = names_.decimals(k);
        if (is_bcd(f)) {
            const std::size_t width = field_width(f);
            std::string digits;
            // The line's own text of nibbles 10 to 15, exactly as wide as the field.
            const bool raw =
                value.size() == width &&
                std::all_of(
                    value.begin(), value.end(),
                    [](char c) { return admits(ColumnRule::bcd, static_cast<std::uint8_t>(c)); }) &&
                !all_digits(value);
            if (raw) {
                digits = value;
            } else {
                auto typed = typed_number(value, decimals);
                if (!typed) {
                    problem(fmt::format("{} {} {}", names_.name(k), shown, typed.error()));
                    continue;
                }
                digits = std::move(*typed);
                digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
                if (digits.size() > width) {
                    problem(fmt::format("{} {} needs {} digits, the field holds {}", names_.name(k),
                                        shown, digits.size(), width));
                    continue;
                }
                digits.insert(0, width - digits.size(), '0');
            }
            for (std::size_t i = 0; i < f.bytes; ++i) {
                v.bytes[i] = static_cast<std::uint8_t>(16 * (digits[2 * i] - '0') +
                                                       (digits[2 * i + 1] - '0'));
            }
            patch.values.push_back(v);
            continue;
        }
        auto typed = typed_number(value, decimals);
        std::optional<std::uint32_t> n;
        if (typed) n = parse_whole_number(*typed, 255);
        if (!n) {
            problem(fmt::format("{} {} {}", names_.name(k), shown,
                                typed ? fmt::format("is more than the field holds ({})",
                                                    with_decimals("255", decimals, ','))
                                      : typed.error()));
            continue;
        }
        if (f.encoding == FieldEncoding::digit && (*n == digit_line_feed || *n == digit_end_mark)) {
            problem(fmt::format("{} cannot be kept in a PLU file: this column would hold {}", shown,
                                *n == digit_line_feed ? "a line feed, which splits the line"
                                                      : "the byte 0x1A, which ends the file"));
            continue;
        }
        v.bytes[0] = static_cast<std::uint8_t>(*n);
        patch.values.push_back(v);
    }
    for (std::size_t i = 0; i < row.fields.size(); ++i) {
        const bool named = i < st.width && st.named[i];
        if (!named && !empty(row.fields[i]))
            report_({row.number, i, "", "a value in a column without a name"});
    }
    if (problems_ != before) return std::nullopt;
    if (st.row_of_plu.empty()) st.row_of_plu.resize(highest_request_plu + 1);
    if (st.row_of_plu[patch.plu] != 0) {
        report_({row.number, st.source[0], "plu",
                 fmt::format("PLU {} is on row {} as well", patch.plu, st.row_of_plu[patch.plu])});
        return std::nullopt;
    }
    st.row_of_plu[patch.plu] = static_cast<std::uint32_t>(row.number);
    return patch;
}

}  // namespace ktnet
