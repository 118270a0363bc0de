// ktnet check FILE... [--json]: every problem of PLU files, each with its line and column.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "command.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct CheckOptions {
    std::vector<std::string> files{};
    bool json = false;
};

// Prints the findings of each file ("FILE:LINE: message", then a count per file), or one JSON
// document with --json. Returns 0 when every file is clean, 1 when a file has a problem, 2 when
// a file cannot be read (reported on err; the other files are still checked).
int run_check(const CheckOptions& options, std::ostream& out, std::ostream& err);

void add_check(CLI::App& app, Command& chosen);

}  // namespace ktnet
