// A CSV file as a spreadsheet or a point-of-sale system saved it: its encoding and separator
// found when not given, its rows handed out one at a time as UTF-8, in the memory of one row.
//
// The encoding is UTF-8 (with or without a byte order mark) when every byte of the file reads
// as UTF-8, else the fallback code page (the scales'); the separator is the one of ';', tab and
// ',' that the first row holds most often (';' when it holds none).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "cli/locked_file.hpp"
#include "formats/code_page.hpp"
#include "formats/csv.hpp"

namespace ktnet {

struct CsvFileChoice {
    std::optional<char> separator;  // nothing: found in the first row
    // How the text is encoded: found, UTF-8, or a code page the caller names.
    enum class Encoding { detect, utf8, code_page } encoding = Encoding::detect;
    const CodePage* code_page = nullptr;  // for Encoding::code_page
};

// What the reading went by, for the run to say.
struct CsvFileFacts {
    std::string encoding;  // "UTF-8", "Windows-1250"
    char separator = ';';
    bool encoding_found = false, separator_found = false;  // found, not given
    bool stopped = false;                                  // keep_going said no
    std::optional<CsvError> error;                         // the text is not CSV there
    std::size_t rows = 0;
};

struct CsvFileReading {
    CsvFileChoice choice;
    const CodePage& fallback;  // the encoding of a file that is not UTF-8
    // Once the encoding and the separator are known, before the first row.
    std::function<void(const CsvFileFacts&)> on_start = [](const CsvFileFacts&) {};
    // Each row, in order.
    std::function<void(const CsvRow&)> on_row = [](const CsvRow&) {};
    // Asked between blocks of the file; false stops the reading (Ctrl+C).
    std::function<bool()> keep_going = [] { return true; };
};

// "read as UTF-8 (found), separated by ';' (found in the header)": found says it was not given.
std::string describe(const CsvFileFacts& facts);

// Reads the whole file. Finding the encoding takes a first pass over it, so a file that cannot
// be read from its start again (a pipe) needs the encoding given.
[[nodiscard]] FileResult<CsvFileFacts> read_csv_file(LockedFile& file,
                                                     const CsvFileReading& reading);

// The separator a first row uses most: of ';', tab and ',', in that order on a tie.
[[nodiscard]] char find_separator(std::string_view first_row);

}  // namespace ktnet
