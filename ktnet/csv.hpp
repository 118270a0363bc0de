// Comma-separated values as RFC 4180 has them, with the separator the caller chooses: fields
// holding the separator, a quote, a line break or surrounding spaces are quoted, quotes in them
// doubled, and rows end in CR LF. Reading also takes LF alone as a row's end, skips a UTF-8 byte
// order mark at the start, and takes a quote inside an unquoted field as an ordinary character.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ktnet {

struct CsvRow {
    std::size_t number;  // counted from 1, as a spreadsheet numbers its rows
    std::vector<std::string> fields;
};

struct CsvError {
    std::size_t row;
    std::size_t column;  // counted from 0
    std::string message;
};

struct CsvParse {
    std::vector<CsvRow> rows;
    std::optional<CsvError> error;  // set when the text is not CSV; rows then hold nothing
};

[[nodiscard]] CsvParse parse_csv(std::string_view text, char separator);

// Appends one row, ended by CR LF.
void append_csv_row(std::string& out, std::span<const std::string> fields, char separator);

// The separator a --sep option names: one character other than a quote, CR or LF, or "tab".
[[nodiscard]] std::optional<char> parse_separator(std::string_view text);

// "A" ... "Z", "AA" ...: a column as spreadsheets name it, from 0.
std::string column_letters(std::size_t column);

}  // namespace ktnet
