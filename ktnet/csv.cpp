#include "csv.hpp"

namespace ktnet {

namespace {

constexpr char quote = '"';
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool needs_quotes(std::string_view field, char separator) {
    if (field.find_first_of(std::string{separator, quote, '\r', '\n'}) != std::string_view::npos)
        return true;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !field.empty() && (blank(field.front()) || blank(field.back()));
}

}  // namespace

CsvParse parse_csv(std::string_view text, char separator) {
    if (text.starts_with(byte_order_mark)) text.remove_prefix(byte_order_mark.size());
    CsvParse result;
    CsvRow row{1, {}};
    std::string field;
    enum class State { field_start, unquoted, quoted, after_quote } state = State::field_start;
    const auto end_field = [&] {
        row.fields.push_back(std::move(field));
        field.clear();
        state = State::field_start;
    };
    const auto end_row = [&] {
        end_field();
        result.rows.push_back(std::move(row));
        row = CsvRow{result.rows.back().number + 1, {}};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (state == State::quoted) {
            if (c != quote) {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == quote) {
                field += quote;
                ++i;
            } else {
                state = State::after_quote;
            }
        } else if (c == separator) {
            end_field();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            end_row();
        } else if (state == State::after_quote) {
            result.rows.clear();
            result.error = CsvError{row.number, row.fields.size(),
                                    "a closing quote must be followed by the separator or the "
                                    "end of the row"};
            return result;
        } else if (state == State::field_start && c == quote) {
            state = State::quoted;
        } else {
            field += c;
            state = State::unquoted;
        }
    }
    if (state == State::quoted) {
        result.rows.clear();
        result.error = CsvError{row.number, row.fields.size(), "a quoted value is never closed"};
        return result;
    }
    if (state != State::field_start || !row.fields.empty()) end_row();
    return result;
}

void append_csv_row(std::string& out, std::span<const std::string> fields, char separator) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += separator;
        if (!needs_quotes(fields[i], separator)) {
            out += fields[i];
            continue;
        }
        out += quote;
        for (const char c : fields[i]) {
            if (c == quote) out += quote;
            out += c;
        }
        out += quote;
    }
    out += "\r\n";
}

std::optional<char> parse_separator(std::string_view text) {
    if (text == "tab") return '\t';
    if (text.size() != 1 || text[0] == quote || text[0] == '\r' || text[0] == '\n')
        return std::nullopt;
    return text[0];
}

std::string column_letters(std::size_t column) {
    std::string letters;
    for (std::size_t n = column + 1; n > 0; n = (n - 1) / 26) {
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    }
    return letters;
}

}  // namespace ktnet
