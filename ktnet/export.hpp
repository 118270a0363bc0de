// ktnet export SOURCE [-o OUT.csv] [--codepage CP] [--sep C]: a PLU file as CSV rows a
// spreadsheet can edit (the layout is in plu_csv.hpp).
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct ExportOptions {
    std::string source{};  // a PLU file, or a scale written "1S1"
    std::string output{};  // empty: standard output
    std::string code_page = "1250";
    std::string separator = ";";
};

// Writes the CSV to the output file or to out. Returns 0 when written; 1 when lines of the file
// cannot be exported (each reported on err with its line; nothing written); 2 for a bad option,
// a scale as the source (not yet available), or a file that cannot be read or written.
int run_export(const ExportOptions& options, std::ostream& out, std::ostream& err);

void add_export(CLI::App& app, Command& chosen);

}  // namespace ktnet
