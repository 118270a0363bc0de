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

// The rows of a CSV text as its bytes come, one row at a time, in the memory of one row.
class CsvReader {
public:
    // A row longer than this is refused: no spreadsheet row of a price list comes near it.
    static constexpr std::size_t longest_row = 1 << 16;

    explicit CsvReader(char separator) : separator_(separator) {}

    // The next bytes of the text; rows they complete are queued for next_row().
    void feed(std::string_view bytes);
    // The text ended.
    void finish();
    // The next complete row, if one is queued.
    [[nodiscard]] std::optional<CsvRow> next_row();
    // Set once the text is not CSV; no row comes after it.
    const std::optional<CsvError>& error() const { return error_; }

private:
    enum class State { field_start, unquoted, quoted, quote_in_quoted, after_quote };
    void end_field();
    void end_row();
    void fail(std::string message);

    char separator_;
    State state_ = State::field_start;
    bool started_ = false;   // past a byte order mark at the very start
    std::string start_;      // the first bytes, while a byte order mark may be coming
    bool after_cr_ = false;  // a CR ended the last row; a LF right after it belongs to it
    CsvRow row_{1, {}};
    std::string field_;
    std::size_t row_bytes_ = 0;
    std::vector<CsvRow> ready_;
    std::size_t next_ready_ = 0;
    std::optional<CsvError> error_;
};

// Appends one row, ended by CR LF.
void append_csv_row(std::string& out, std::span<const std::string> fields, char separator);

// The separator a --sep option names: one character other than a quote, CR or LF, or "tab".
[[nodiscard]] std::optional<char> parse_separator(std::string_view text);

// "A" ... "Z", "AA" ...: a column as spreadsheets name it, from 0.
std::string column_letters(std::size_t column);

}  // namespace ktnet
