// ktnet import IN.csv -o FILE.txt [--scale ADDRESS] [--fill-zero] [--codepage CP] [--sep C]:
// CSV rows (the layout is in plu_csv.hpp) back into a PLU file in the reader's exact format.
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct ImportOptions {
    std::string input{};
    std::string output{};
    std::string scale = "1S1";  // columns 0 to 8 of every line
    bool fill_zero = false;
    std::string code_page = "1250";
    std::string separator = ";";
    OutputOptions said{};  // --quiet
};

// Reads the CSV as it comes and writes the lines under a temporary name, renamed into place only
// when every row converted. Returns 0 when the file is written; 1 when the CSV has problems (the
// first 20 reported on err with their row and column; the output file is not touched); 128+N
// when signal N stopped it (nothing written); 2 for a bad option or a file that cannot
// be read or written.
int run_import(const ImportOptions& options, ShopEnvironment& env, RunOutput& output);

void add_import(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
