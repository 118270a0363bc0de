// ktnet export SOURCE [-o OUT.csv] [--codepage CP] [--sep C]: a PLU file as CSV rows a
// spreadsheet can edit (the layout is in plu_csv.hpp).
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"
#include "scale_access.hpp"
#include "shop_environment.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct ExportOptions {
    std::string source{};  // a PLU file, or a scale: "1S1" or its name in the shop file
    std::string output{};  // empty: standard output
    std::string code_page = "1250";
    std::string separator = ";";
    std::string plu = "1-10000";  // the PLUs read from a scale
    DeviceOptions device{};       // --shop and --timeout, for a scale
};

// Writes the CSV to the output file or to out. Returns 0 when written; 1 when lines of the file
// cannot be exported (each reported on err with its line; nothing written); 2 for a bad option,
// a file that cannot be read or written, or a scale that cannot be read (no controller, a PLU
// without a valid answer); 5 when another run holds the controller; 128+N when signal N
// stopped the reading.
int run_export(const ExportOptions& options, ShopEnvironment& env, std::ostream& out,
               std::ostream& err);

void add_export(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
