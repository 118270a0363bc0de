// The files ktnet reads and writes, with the programs' file rules: each held locked while it is
// open, PLU files in text mode (LF stored as CR LF, the first 0x1A ends the file).
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/file_error.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

// A whole file's bytes as stored, or why they cannot be had.
[[nodiscard]] FileResult<std::string> read_file_bytes(std::string_view name);

// A PLU file's lines as the loader reads them, without their LF, however long.
[[nodiscard]] FileResult<std::vector<std::string>> read_plu_lines(std::string_view name);

// Creates or empties the file and writes the bytes as they are, in one write.
[[nodiscard]] FileStatus write_file_bytes(std::string_view name, std::string_view bytes);

// Creates or empties the file and writes the lines as the reader writes them, in one write.
[[nodiscard]] FileStatus write_plu_file(std::string_view name,
                                        std::span<const FormattedLine> lines);

// A command-line file name as a path; nothing when it cannot be one (on Windows a name is
// converted from the ANSI code page, which can fail).
[[nodiscard]] std::optional<std::filesystem::path> path_of(std::string_view name);

}  // namespace ktnet
