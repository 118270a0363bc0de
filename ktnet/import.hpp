// ktnet import IN.csv -o FILE.txt [--scale ADDRESS] [--fill-zero] [--codepage CP] [--sep C]:
// CSV rows (the layout is in plu_csv.hpp) back into a PLU file in the reader's exact format.
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct ImportOptions {
    std::string input{};
    std::string output{};
    std::string scale = "1S1";  // columns 0 to 8 of every line
    bool fill_zero = false;
    std::string code_page = "1250";
    std::string separator = ";";
};

// Returns 0 when the file is written; 1 when the CSV has problems (each reported on err with
// its row and column; the output file is not touched); 2 for a bad option or a file that cannot
// be read or written.
int run_import(const ImportOptions& options, std::ostream& out, std::ostream& err);

void add_import(CLI::App& app, Command& chosen);

}  // namespace ktnet
