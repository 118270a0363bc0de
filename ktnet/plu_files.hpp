// The files ktnet reads and writes, with the programs' file rules: each held locked while it is
// open, PLU files in text mode (LF stored as CR LF, the first 0x1A ends the file).
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plu/plu_line.hpp"

namespace ktnet {

// A whole file's bytes as stored; nothing when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> read_file_bytes(const std::filesystem::path& path);

// A PLU file's lines as the loader reads them, without their LF, however long.
[[nodiscard]] std::optional<std::vector<std::string>> read_plu_lines(
    const std::filesystem::path& path);

// Creates or empties the file and writes the bytes as they are, in one write.
[[nodiscard]] bool write_file_bytes(const std::filesystem::path& path, std::string_view bytes);

// Creates or empties the file and writes the lines as the reader writes them, in one write.
[[nodiscard]] bool write_plu_file(const std::filesystem::path& path,
                                  std::span<const FormattedLine> lines);

// A command-line file name as a path; nothing when it cannot be one (on Windows a name is
// converted from the ANSI code page, which can fail).
[[nodiscard]] std::optional<std::filesystem::path> path_of(std::string_view name);

}  // namespace ktnet
