// ktnet compare A B [C...] [--plu LIST]: PLU files and scales, field by field
// (shop/compare_sources.hpp).
#pragma once

#include <string>
#include <vector>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct CompareOptions {
    std::vector<std::string> sources{};
    std::string plu{};  // "1-50,77"; empty: see run_compare
    DeviceOptions device{};
};

// Reads each source (a PLU file, or scales as everywhere: an address, a name, a list, a range,
// "all"; write ./1S1 for a file of that name) and compares the first with each of the others.
// Scales are read over --plu; without it, over the PLUs the files hold when there are files,
// else 1-10000; file records outside --plu are left out too. Prints per pair a summary line
// (equal; N PLUs differ; only in A; only in B), then each differing PLU with its fields and, where
// a copy explains one, why; or one JSON document with --json. Returns 0 when every pair is
// equal, 1 when one differs, 2 for trouble (a bad command line, a file that cannot be read or
// holds a line that breaks the rules, a scale that cannot be read), 5 when another run holds
// the controller, 128+N when signal N stopped it.
int run_compare(const CompareOptions& options, ShopEnvironment& env, RunOutput& output);

void add_compare(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
