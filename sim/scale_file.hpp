// The simulated scales' memory on disk: one PLU text line per record, the line layout the
// reader writes, so a sample file can be read by people and loaded by ldk alike. Three places
// differ from the reader's so that saving and loading is exact: columns 7-8 hold the PLU
// number's millions (the reader writes "xx" there), so that columns 7-14 show the whole 24-bit
// number; column 48 holds frame byte 36 as a digit (the reader writes "x" there) and columns
// 118-119 hold byte 65 as BCD (the reader writes it as decimal). A line with "xx" in columns
// 7-8 loads the six-digit number of columns 9-14, and "x" in column 48 loads byte 36 as 0.
#pragma once

#include <filesystem>
#include <string>

#include "plu/plu_line.hpp"
#include "simulated_controller.hpp"

namespace ktnet::sim {

// Adds the file's records to the controller, creating the scales they name. On failure
// returns false and says why in error.
[[nodiscard]] bool load_scales(const std::filesystem::path& path, SimulatedController& controller,
                               std::string& error);

// Writes every record of every scale, ordered by scale and PLU number. The file is replaced
// whole; when that fails it keeps what it held, and error says why.
[[nodiscard]] bool save_scales(const std::filesystem::path& path,
                               const SimulatedController& controller, std::string& error);

// One record as a line of that file, with its CR LF.
FormattedLine scale_file_line(ScaleAddress id, const RecordBody& body);

}  // namespace ktnet::sim
