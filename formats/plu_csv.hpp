// PLU records as CSV rows a spreadsheet can edit, and back, exactly.
//
// One row per record, after a header row. The columns are "plu", "name", then one per setting
// field, under the name the shop's fields file gives it (field_names.hpp) or else its line
// columns ("c41_46", "c84"). Values:
// - plu: the number, 0 to 65535 (a request carries 16 bits of it);
// - name: UTF-8 text in the scales' code page, as name_text.hpp writes it;
// - a BCD field (two columns per byte): its digits, e.g. "007082", or with the decimals the
//   fields file gives, "70,82" (a point will do too); nibbles 10 to 15 are ":" to "?", as in
//   the line, and are written as the line has them;
// - a Digit or Decimal field: the byte's value, 0 to 255, with its decimals if it has any.
// Spreadsheets drop leading zeros: on reading, a value of digits alone is filled up with zeros
// to its width. The columns that carry no field (the scale's address in 0-8, the "x" in 48 and
// the separating spaces) are not carried: they are written as the reader writes them.
//
// A CSV need not give every field: a price list of "plu;price" is merged onto what a base
// holds (a PLU file, or what the store knows a scale holds), and only the fields it gives
// change.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/code_page.hpp"
#include "formats/csv.hpp"
#include "formats/field_names.hpp"
#include "link/scale_address.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

struct LineProblem {
    std::size_t line;  // counted from 1
    std::string message;
};

// The CSV rows of PLU lines, one line at a time.
class PluCsvExport {
public:
    PluCsvExport(const CodePage& code_page, char separator, const FieldNames& names = {})
        : code_page_(code_page), separator_(separator), names_(names) {}
    // The byte order mark and the header row.
    std::string header() const;
    // Appends the line's row to out; the reason instead when the line cannot be exported: the
    // loader could not read it, a number column holds a character the reader never writes
    // there, or a Decimal field holds more than a byte.
    [[nodiscard]] std::optional<std::string> append_row(std::string_view line, std::string& out);

private:
    const CodePage& code_page_;
    char separator_;
    const FieldNames& names_;
    std::vector<std::string> row_;
};

struct CellProblem {
    std::size_t row;     // counted from 1, the header being row 1
    std::size_t column;  // counted from 0; npos for a problem of the row or of the header
    std::string column_name;
    std::string message;
};

// The fields one CSV row gives, each as the bytes its field takes in the record.
struct RowPatch {
    std::size_t row = 0;
    std::uint32_t plu = 0;
    struct Value {
        std::size_t field;
        std::array<std::uint8_t, name_length> bytes{};  // the field's bytes (at most a name's)
    };
    std::vector<Value> values;
    bool whole = false;  // every field is given: no base is needed
};

// The record a patch makes of a base record: the base with the fields the row gives replaced.
RecordFrame apply_patch(const RowPatch& patch, const RecordFrame& base);

struct CsvReadSettings {
    char separator = ';';  // for the hint when the header reads as one column
};

// CSV rows (their text UTF-8, see csv_file.hpp) read into patches one row at a time, in the memory
// of one row (and a table of the PLU numbers seen), so that a CSV of any size costs the same. Each
// problem goes to report, with its row and column and the field's name.
class PluCsvReader {
public:
    using Report = std::function<void(CellProblem&&)>;
    // names_code_page: the scales' code page, which names are stored in.
    PluCsvReader(const CodePage& names_code_page, const FieldNames& names,
                 const CsvReadSettings& settings, Report report);
    ~PluCsvReader();
    PluCsvReader(const PluCsvReader&) = delete;
    PluCsvReader& operator=(const PluCsvReader&) = delete;

    // The first row is the header; each later one gives a patch, or nothing when it is empty
    // or has a problem.
    [[nodiscard]] std::optional<RowPatch> row(const CsvRow& row);
    bool clean() const { return problems_ == 0; }
    // Once the header is read: whether the CSV gives every field.
    bool whole() const;

private:
    struct State;
    const CodePage& code_page_;
    const FieldNames& names_;
    CsvReadSettings settings_;
    Report report_;
    std::size_t problems_ = 0;
    std::unique_ptr<State> state_;
};

}  // namespace ktnet
