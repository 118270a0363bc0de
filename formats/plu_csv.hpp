// PLU lines as CSV rows a spreadsheet can edit, and back, exactly.
//
// One row per line, after a header row. The columns are "plu", "name", then one per setting
// field, named after the line columns it occupies ("c41_46", "c84"). Values:
// - plu: the number, 0 to 999999;
// - name: UTF-8 text in the scales' code page, as name_text.hpp writes it;
// - a BCD field (two columns per byte): its column text, e.g. "007082"; nibbles 10 to 15 are
//   ":" to "?", as in the line;
// - a Digit or Decimal field: the byte's value, 0 to 255.
// Spreadsheets drop leading zeros: on reading, a value of digits alone is filled up with zeros
// to its width. The columns that carry no field (the scale's address in 0-8, the "x" in 48 and
// the separating spaces) are not carried: they are written as the reader writes them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/code_page.hpp"
#include "formats/csv.hpp"
#include "link/scale_address.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

// "plu", "name", "c41_46", ...: one name per field of the field table.
const std::vector<std::string>& csv_column_names();

struct LineProblem {
    std::size_t line;  // counted from 1
    std::string message;
};

struct CsvExport {
    std::string text;                   // a UTF-8 byte order mark, the header, one row per line
    std::vector<LineProblem> problems;  // lines that cannot be exported; text is then empty
};

// The lines as read from a PLU file (without their LF), or as formatted from a scale's answers.
// A line cannot be exported when the loader could not read it (empty, beginning with NUL, over
// 142 characters), when a number column holds a character the reader never writes there, or
// when a Decimal field holds more than a byte.
[[nodiscard]] CsvExport export_csv(std::span<const std::string> lines, const CodePage& code_page,
                                   char separator);

// The CSV rows of PLU lines, one line at a time.
class PluCsvExport {
public:
    PluCsvExport(const CodePage& code_page, char separator)
        : code_page_(code_page), separator_(separator) {}
    // The byte order mark and the header row.
    std::string header() const;
    // Appends the line's row to out; the reason instead when the line cannot be exported.
    [[nodiscard]] std::optional<std::string> append_row(std::string_view line, std::string& out);

private:
    const CodePage& code_page_;
    char separator_;
    std::vector<std::string> row_;
};

struct CellProblem {
    std::size_t row;     // counted from 1, the header being row 1
    std::size_t column;  // counted from 0; npos for a problem of the row or of the header
    std::string column_name;
    std::string message;
};

struct ImportSettings {
    char separator = ';';
    ScaleAddress scale = ScaleAddress::make(1, 'S', 1).value();  // columns 0 to 8
    bool fill_zero = false;  // a missing setting column reads as zeros
};

struct CsvImport {
    std::vector<FormattedLine> lines;   // in the reader's exact format
    std::vector<CellProblem> problems;  // every problem found; lines are then empty
};

// CSV rows into PLU lines one row at a time, in the memory of one row (and a table of the PLU
// numbers seen), so that a CSV of any size costs the same. Each problem goes to report.
class PluCsvImport {
public:
    using Report = std::function<void(CellProblem&&)>;
    PluCsvImport(const CodePage& code_page, const ImportSettings& settings, Report report);
    ~PluCsvImport();
    PluCsvImport(const PluCsvImport&) = delete;
    PluCsvImport& operator=(const PluCsvImport&) = delete;

    // The first row is the header; each later one gives a line, or nothing when it is empty or
    // has a problem.
    [[nodiscard]] std::optional<FormattedLine> row(const CsvRow& row);
    // No problem so far.
    bool clean() const { return problems_ == 0; }

private:
    struct State;
    const CodePage& code_page_;
    ImportSettings settings_;
    Report report_;
    std::size_t problems_ = 0;
    std::unique_ptr<State> state_;
};

// Rows that are empty in every column are skipped. Refused, each problem in its row and column:
// text that is not CSV, a missing, unknown or repeated column, a value that does not fit its
// field, a name the code page cannot hold or longer than 24 bytes, a PLU number repeated.
[[nodiscard]] CsvImport import_csv(std::string_view text, const CodePage& code_page,
                                   const ImportSettings& settings);

}  // namespace ktnet
