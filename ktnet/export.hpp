// ktnet export SOURCE [-o OUT] [--codepage CP] [--sep C]: a PLU file or scales as CSV rows a
// spreadsheet can edit (the layout is in formats/plu_csv.hpp).
#pragma once

#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct ExportOptions {
    std::string source{};  // a PLU file, or scales: "1S1", a name, a list, a range, "all"
    std::string output{};  // empty: standard output; a folder for several scales
    std::string code_page = "1250";
    std::string separator = ";";
    std::string plu = "1-10000";  // the PLUs read from a scale
    DeviceOptions device{};       // --shop, --timeout and --wait, for scales
};

// Writes the CSV to the output file or to standard output; several scales each to
// FOLDER/<address>.csv. A file is written whole or not at all. Returns 0 when written; 1 when
// lines of the file cannot be exported (the first 20 named; nothing written); 2 for a bad
// option, a file that cannot be read or written, or a scale that cannot be read (no
// controller, a PLU without a valid answer); 5 when another run holds the controller; 128+N
// when signal N stopped the reading.
int run_export(const ExportOptions& options, ShopEnvironment& env, RunOutput& output);

void add_export(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
