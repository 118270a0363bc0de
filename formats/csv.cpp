#include "formats/csv.hpp"

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
    CsvReader reader(separator);
    reader.feed(text);
    reader.finish();
    CsvParse result;
    while (auto row = reader.next_row()) result.rows.push_back(std::move(*row));
    if (reader.error()) {
        result.rows.clear();
        result.error = reader.error();
    }
    return result;
}

void CsvReader::fail(std::string message) {
    if (!error_) error_ = CsvError{row_.number, row_.fields.size(), std::move(message)};
}

void CsvReader::end_field() {
    row_.fields.push_back(std::move(field_));
    field_.clear();
    state_ = State::field_start;
}

void CsvReader::end_row() {
    end_field();
    const std::size_t number = row_.number;
    ready_.push_back(std::move(row_));
    row_ = CsvRow{number + 1, {}};
    row_bytes_ = 0;
}

void CsvReader::feed(std::string_view bytes) {
    if (!started_) {
        // A UTF-8 byte order mark at the very start is no part of the text.
        start_.append(bytes);
        if (start_.size() < byte_order_mark.size() && byte_order_mark.starts_with(start_)) return;
        started_ = true;
        std::string first = std::move(start_);
        if (std::string_view(first).starts_with(byte_order_mark))
            first.erase(0, byte_order_mark.size());
        feed(first);
        return;
    }
    for (const char c : bytes) {
        if (error_) return;
        if (after_cr_) {
            after_cr_ = false;
            if (c == '\n') continue;
        }
        if (++row_bytes_ > longest_row) {
            fail("the row is longer than " + std::to_string(longest_row) +
                 " bytes: this is no CSV of PLU records");
            return;
        }
        switch (state_) {
            case State::quoted:
                if (c == quote) {
                    state_ = State::quote_in_quoted;
                } else {
                    field_ += c;
                }
                continue;
            case State::quote_in_quoted:
                if (c == quote) {  // a doubled quote stands for one
                    field_ += quote;
                    state_ = State::quoted;
                    continue;
                }
                state_ = State::after_quote;
                break;
            default:
                break;
        }
        if (c == separator_) {
            end_field();
        } else if (c == '\r' || c == '\n') {
            after_cr_ = c == '\r';
            end_row();
        } else if (state_ == State::after_quote) {
            fail("a closing quote must be followed by the separator or the end of the row");
        } else if (state_ == State::field_start && c == quote) {
            state_ = State::quoted;
        } else {
            field_ += c;
            state_ = State::unquoted;
        }
    }
}

void CsvReader::finish() {
    if (!started_) {
        started_ = true;
        std::string first = std::move(start_);
        if (!first.empty()) feed(first);
    }
    if (error_) return;
    if (state_ == State::quoted) {
        fail("a quoted value is never closed");
        return;
    }
    if (state_ != State::field_start || !row_.fields.empty()) end_row();
}

std::optional<CsvRow> CsvReader::next_row() {
    if (next_ready_ == ready_.size()) {
        ready_.clear();
        next_ready_ = 0;
        return std::nullopt;
    }
    return std::move(ready_[next_ready_++]);
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
