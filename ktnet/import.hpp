// ktnet import IN.csv -o FILE.txt [--onto BASE] [--scale ADDRESS] [--codepage CP]
// [--csv-codepage CP] [--sep C] [--fields FILE]: CSV rows (the layout is in plu_csv.hpp), merged
// onto a base when they give only some fields, into a PLU file in the reader's exact format.
#pragma once

#include <iosfwd>
#include <string>

#include "command.hpp"
#include "device_options.hpp"
#include "options_common.hpp"

namespace ktnet {

struct ImportOptions {
    std::string input{};
    std::string output{};
    std::string onto{};   // a PLU file or a scale; empty: the CSV gives every field
    std::string scale{};  // columns 0 to 8 of every line; empty: onto's scale, else 1S1
    CsvInputOptions csv{};
    DeviceOptions device{};  // --shop, --store, --fields, --quiet
};

// Reads the CSV as it comes and writes the lines under a temporary name, renamed into place only
// when every row converted. Returns 0 when the file is written; 1 when the CSV has problems (the
// first 20 reported on err with their row and column; the output file is not touched); 128+N
// when signal N stopped it (nothing written); 2 for a bad option or a file that cannot
// be read or written.
int run_import(const ImportOptions& options, ShopEnvironment& env, RunOutput& output);

void add_import(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
