// The files ktnet reads and writes, with the programs' file rules: each held locked while it is
// open, PLU files in text mode (LF stored as CR LF, the first 0x1A ends the file).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/file_error.hpp"
#include "cli/text_file.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

// A whole file's bytes as stored, or why they cannot be had.
[[nodiscard]] FileResult<std::string> read_file_bytes(std::string_view name);

// The longest line a PLU file is read with: far longer than any line the loader takes, so that
// a line too long for it is still reported with its length, and short enough that a file
// without line ends (/dev/zero, a binary) costs no memory.
inline constexpr std::size_t plu_line_cap = 4096;

// How the reading of a PLU file ended.
struct PluFileRead {
    std::size_t lines = 0;  // lines handed out
    TextReader::End end;    // how the text ended, when it was read to its end
    // The line that ran past plu_line_cap without a line end: reading stopped there, as such a
    // file holds no PLU lines.
    std::optional<std::size_t> not_plu_line;
    bool stopped = false;  // each asked to stop
};

// Hands each line of a PLU file to each, numbered from 1 and without its LF, as the loader
// reads them, in the same little memory whatever the file's size; each returns false to stop.
[[nodiscard]] FileResult<PluFileRead> read_plu_file(
    std::string_view name, const std::function<bool(std::size_t, std::string_view)>& each);
// The same, from a file already open, from where it stands.
[[nodiscard]] FileResult<PluFileRead> read_plu_file(
    TextReader& reader, const std::function<bool(std::size_t, std::string_view)>& each);
// A PLU file opened and held, to be read (and read again) with the programs' text rules.
[[nodiscard]] FileResult<TextReader> open_plu_file(std::string_view name);

// "line 7 is not a PLU line: more than 4096 characters without a line end".
std::string describe_not_plu_line(std::size_t line);

// A PLU file's lines as the loader reads them, without their LF; a line over plu_line_cap ends
// the reading with that reason.
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
