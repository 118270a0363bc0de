// ktnet check FILE... [--json]: every problem of PLU files, each with its line and column.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct CheckOptions {
    std::vector<std::string> files{};
    OutputOptions output{};
    bool for_ldk = false;            // also what ldk would store differently
    std::size_t max_findings = 100;  // shown per file; the rest are counted
};

// Prints the findings of each file ("FILE:LINE: message", notes as "FILE:LINE: note: message",
// then a count per file), or one JSON document with --json. At most max_findings are shown per
// file, and the rest counted. Returns 0 when no file has a problem (notes do not count), 1 when
// one has, 2 when a file cannot be read (reported on err; the other files are still checked).
int run_check(const CheckOptions& options, RunOutput& output);

void add_check(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
