// rdk: reads a range of PLU records from one scale into a PLU text file.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

#include "cli/run_context.hpp"
#include "link/hid_port.hpp"

namespace ktnet {

// One whole run. args are the command-line arguments after the program name. Returns the
// process exit status.
int run_reader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const RunContext& context = {});

}  // namespace ktnet
