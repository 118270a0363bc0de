// Conversions between a PLU record frame and its fixed-column text line.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "field_table.hpp"
#include "link/frame.hpp"
#include "link/scale_address.hpp"

namespace ktnet {

using FormattedLine = std::array<std::uint8_t, formatted_line_length>;

// The 140 columns of the record plus CR LF. record is the unescaped 0xD0 answer (77 bytes);
// scale is where it came from, shown in columns 0 to 8.
FormattedLine format_line(const ScaleAddress& scale,
                          std::span<const std::uint8_t, record_frame_length> record);

// The record of one line as read, without its LF: PLU number, name and settings in frame
// bytes 6 to 74 (byte 36, never shown in a line, is 0); the frame's own bytes are left 0.
// Past the end of a short line the name reads as spaces and every number column as "0", so a
// short line made by hand is a record whose remaining settings are zero. Returns false,
// building nothing, for an empty line or one whose first character is NUL.
[[nodiscard]] bool parse_line(std::string_view line, RecordFrame& record);

// The 140 columns of a line as the loader reads them: past a short line's end, the name is
// spaces and every other column "0".
std::string columns_as_read(std::string_view line);

// The record the reader wrote this line from, every byte but 36: as parse_line, except that
// columns 118-119 are read the way the reader writes them (the byte in decimal), where ldk reads
// them as BCD. For a line the reader wrote, format_line of the result gives the line back.
[[nodiscard]] bool parse_line_as_written(std::string_view line, RecordFrame& record);

// A name of spaces (or NUL bytes) only.
bool blank_name(const RecordFrame& record);
// Every setting byte after the name is 0 (byte 36, in no line, left out).
bool settings_zero(const RecordFrame& record);

}  // namespace ktnet
