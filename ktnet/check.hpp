// ktnet check FILE... [--json]: every problem of PLU files, each with its line and column.
#pragma once

#include <cstddef>
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
    bool for_ldk = false;            // also what ldk would store differently
    std::size_t max_findings = 100;  // shown per file; the rest are counted
};

// Prints the findings of each file ("FILE:LINE: message", notes as "FILE:LINE: note: message",
// then a count per file), or one JSON document with --json. At most max_findings are shown per
// file, and the rest counted. Returns 0 when no file has a problem (notes do not count), 1 when
// one has, 2 when a file cannot be read (reported on err; the other files are still checked).
int run_check(const CheckOptions& options, std::ostream& out, std::ostream& err);

void add_check(CLI::App& app, Command& chosen);

}  // namespace ktnet
