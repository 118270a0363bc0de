#include "formats/plu_csv.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

#include "base/limits.hpp"
#include "base/numbers.hpp"
#include "base/text.hpp"
#include "formats/csv.hpp"
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

std::string column_name(const PluField& f) {
    if (is_plu(f)) return "plu";
    if (is_name(f)) return "name";
    const std::size_t last = f.column + field_width(f) - 1;
    return last == f.column ? fmt::format("c{}", f.column) : fmt::format("c{}_{}", f.column, last);
}

int digit_at(std::string_view line, std::size_t column) {
    return static_cast<std::uint8_t>(line[column]) - '0';
}

// The row of one line, or the reason it has none.
std::optional<std::string> export_row(std::string_view line, const CodePage& code_page,
                                      std::vector<std::string>& row) {
    if (auto refusal = find_line_refusal(line)) return refusal;

    const std::string columns = columns_as_read(line);
    row.clear();
    for (const PluField& f : plu_fields) {
        const std::string_view text = std::string_view(columns).substr(f.column, field_width(f));
        switch (f.encoding) {
            case FieldEncoding::plu_number:
                row.push_back(std::to_string(plu_number_of_line(columns)));
                break;
            case FieldEncoding::raw:
                row.push_back(name_to_text(
                    {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, code_page));
                break;
            case FieldEncoding::bcd:
                row.emplace_back(text);
                break;
            case FieldEncoding::digit:
                row.push_back(std::to_string(static_cast<std::uint8_t>(digit_at(text, 0))));
                break;
            case FieldEncoding::decimal:
            case FieldEncoding::decimal_out_bcd_in: {
                const int value = 10 * digit_at(text, 0) + digit_at(text, 1);
                if (value > 255) {
                    return fmt::format("columns {}-{} hold \"{}\", {}: more than a byte holds",
                                       f.column, f.column + 1, text, value);
                }
                row.push_back(std::to_string(value));
                break;
            }
        }
    }
    return std::nullopt;
}

bool all_digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Stores one cell's value in the record; the reason when it does not fit.
std::optional<std::string> store_value(const PluField& f, std::string_view cell,
                                       const CodePage& code_page,
                                       std::span<std::uint8_t, record_frame_length> record) {
    auto byte = record.begin() + f.frame_byte;
    if (is_name(f)) {
        const auto name = text_to_name(cell, code_page);
        if (!name) return name.error();
        std::copy(name->begin(), name->end(), byte);
        return std::nullopt;
    }
    const std::string_view value = trimmed(cell);
    const std::string shown = fmt::format("\"{}\"", value);
    if (value.empty()) return std::string("the value is missing");
    if (is_plu(f)) {
        const auto v = parse_whole_number(value, highest_request_plu);
        if (!v) {
            return shown +
                   " is not a PLU number from 0 to 65535 (a request carries 16 bits of it, so a "
                   "scale could never be asked for a higher one)";
        }
        write_le24(*v, std::span<std::uint8_t, 3>(byte, 3));
        return std::nullopt;
    }
    if (is_bcd(f)) {
        const std::size_t width = field_width(f);
        std::string text(value);
        if (all_digits(value)) {
            const std::size_t zeros = std::min(text.find_first_not_of('0'), text.size());
            text.erase(0, std::min(zeros, text.size() > width ? text.size() - width : 0));
            if (text.size() < width) text.insert(0, width - text.size(), '0');
        }
        const bool fits = text.size() == width && std::all_of(text.begin(), text.end(), [](char c) {
                              return admits(ColumnRule::bcd, static_cast<std::uint8_t>(c));
                          });
        if (!fits) {
            return fmt::format(
                "{} does not fit: write up to {} digits (or, for 10 to 15, exactly {} characters "
                "0-9 and :;<=>?)",
                shown, width, width);
        }
        for (std::size_t i = 0; i < f.bytes; ++i) {
            byte[i] = static_cast<std::uint8_t>(16 * (text[2 * i] - '0') + (text[2 * i + 1] - '0'));
        }
        return std::nullopt;
    }
    const auto v = parse_whole_number(value, 255);
    if (!v) return shown + " is not a whole number from 0 to 255";
    if (f.encoding == FieldEncoding::digit && (*v == digit_line_feed || *v == digit_end_mark)) {
        return fmt::format("{} cannot be kept in a PLU file: this column would hold {}", *v,
                           *v == digit_line_feed ? "a line feed, which splits the line"
                                                 : "the byte 0x1A, which ends the file");
    }
    *byte = static_cast<std::uint8_t>(*v);
    return std::nullopt;
}

struct Layout {
    std::array<std::size_t, plu_fields.size()> source;  // CSV column of each field, or npos
    std::size_t width = 0;                              // columns in the header
    std::vector<bool> named;                            // header columns with a name
};

Layout read_header(const CsvRow& header, const ImportSettings& options,
                   std::vector<CellProblem>& problems) {
    Layout layout;
    layout.source.fill(npos);
    layout.width = header.fields.size();
    layout.named.assign(layout.width, false);
    const auto& names = csv_column_names();
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        std::string name(trimmed(header.fields[i]));
        if (name.empty()) continue;  // a column a spreadsheet added; its cells must stay empty
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');  // "PLU" is plu
        }
        layout.named[i] = true;
        const auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end()) {
            problems.push_back({header.number, i, name,
                                "unknown column: the columns are plu, name, c41_46 ... c139"});
            continue;
        }
        std::size_t& source = layout.source[static_cast<std::size_t>(it - names.begin())];
        if (source != npos) {
            problems.push_back({header.number, i, name, "the column is repeated"});
            continue;
        }
        source = i;
    }
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        if (layout.source[k] != npos) continue;
        const bool fillable = !is_plu(plu_fields[k]) && !is_name(plu_fields[k]);
        if (fillable && options.fill_zero) continue;
        problems.push_back({header.number, npos, names[k],
                            fillable ? "the column is missing (--fill-zero fills missing setting "
                                       "columns with zeros)"
                                     : "the column is missing"});
    }
    return layout;
}

}  // namespace

const std::vector<std::string>& csv_column_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const PluField& f : plu_fields) n.push_back(column_name(f));
        return n;
    }();
    return names;
}

std::string PluCsvExport::header() const {
    std::string text(byte_order_mark);
    append_csv_row(text, csv_column_names(), separator_);
    return text;
}

std::optional<std::string> PluCsvExport::append_row(std::string_view line, std::string& out) {
    if (auto problem = export_row(line, code_page_, row_)) return problem;
    append_csv_row(out, row_, separator_);
    return std::nullopt;
}

CsvExport export_csv(std::span<const std::string> lines, const CodePage& code_page,
                     char separator) {
    CsvExport result;
    PluCsvExport csv(code_page, separator);
    result.text = csv.header();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string row;
        if (auto problem = csv.append_row(lines[i], row)) {
            result.problems.push_back({i + 1, std::move(*problem)});
        } else if (result.problems.empty()) {
            result.text += row;
        }
    }
    if (!result.problems.empty()) result.text.clear();
    return result;
}

struct PluCsvImport::State {
    std::optional<Layout> layout;  // once the header is read
    bool header_failed = false;
    std::vector<std::uint32_t> row_of_plu;  // by PLU number; 0 = not seen
};

PluCsvImport::PluCsvImport(const CodePage& code_page, const ImportSettings& settings, Report report)
    : code_page_(code_page),
      settings_(settings),
      report_([this, report = std::move(report)](CellProblem&& p) {
          ++problems_;
          report(std::move(p));
      }),
      state_(std::make_unique<State>()) {}

PluCsvImport::~PluCsvImport() = default;

std::optional<FormattedLine> PluCsvImport::row(const CsvRow& row) {
    if (!state_->layout) {
        std::vector<CellProblem> header_problems;
        state_->layout = read_header(row, settings_, header_problems);
        state_->header_failed = !header_problems.empty();
        for (CellProblem& p : header_problems) report_(std::move(p));
        return std::nullopt;
    }
    // Rows are read only under a header without problems: their columns mean nothing else.
    if (state_->header_failed) return std::nullopt;
    const Layout& layout = *state_->layout;
    const auto& names = csv_column_names();
    const auto empty = [](const std::string& s) { return trimmed(s).empty(); };
    if (std::all_of(row.fields.begin(), row.fields.end(), empty)) return std::nullopt;
    const std::size_t before = problems_;
    std::array<std::uint8_t, record_frame_length> record{};
    for (std::size_t k = 0; k < plu_fields.size(); ++k) {
        const std::size_t source = layout.source[k];
        if (source == npos) continue;  // filled with zeros
        const std::string_view cell =
            source < row.fields.size() ? std::string_view(row.fields[source]) : "";
        if (auto problem = store_value(plu_fields[k], cell, code_page_, record))
            report_({row.number, source, names[k], std::move(*problem)});
    }
    for (std::size_t i = 0; i < row.fields.size(); ++i) {
        const bool named = i < layout.width && layout.named[i];
        if (!named && !empty(row.fields[i]))
            report_({row.number, i, "", "a value in a column without a name"});
    }
    if (problems_ != before) return std::nullopt;
    const PluField& plu = plu_fields.front();
    const std::uint32_t number =
        read_le24(std::span<const std::uint8_t, 3>(record.begin() + plu.frame_byte, 3));
    auto& seen = state_->row_of_plu;
    if (seen.empty()) seen.resize(highest_request_plu + 1);
    if (seen[number] != 0) {
        report_({row.number, layout.source[0], names[0],
                 fmt::format("PLU {} is on row {} as well", number, seen[number])});
        return std::nullopt;
    }
    seen[number] = static_cast<std::uint32_t>(row.number);
    return format_line(settings_.scale, record);
}

CsvImport import_csv(std::string_view text, const CodePage& code_page,
                     const ImportSettings& options) {
    CsvImport result;
    PluCsvImport import(code_page, options,
                        [&](CellProblem&& p) { result.problems.push_back(std::move(p)); });
    CsvParse table = parse_csv(text, options.separator);
    if (table.error) {
        result.problems.push_back(
            {table.error->row, table.error->column, "", table.error->message});
        return result;
    }
    if (table.rows.empty()) {
        result.problems.push_back({1, npos, "", "there is no header row"});
        return result;
    }
    for (const CsvRow& row : table.rows) {
        if (auto line = import.row(row)) result.lines.push_back(*line);
    }
    if (!result.problems.empty()) result.lines.clear();
    return result;
}

}  // namespace ktnet
