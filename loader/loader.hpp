// ldk: sends the records of a range of lines of a PLU text file to one scale and logs each
// one in the result file.
#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string_view>

#include "cli/run_context.hpp"
#include "link/hid_port.hpp"

namespace ktnet {

inline constexpr std::string_view result_file_name = "wynik.txt";

// One whole run. args are the command-line arguments after the program name; the result
// file is written at result_path. Returns the process exit status.
int run_loader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const std::filesystem::path& result_path = result_file_name,
               const RunContext& context = {});

}  // namespace ktnet
