// Any line: parse_line accepts exactly the lines that do not start with NUL, and a parsed
// frame, formatted and parsed again, gives the same frame wherever the line format is two-way
// (byte 65 only below 10).
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "plu/plu_line.hpp"

using namespace ktnet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > max_line_length) return -1;  // the loader never hands over longer lines
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    FrameBuffer frame{};
    const bool parsed = parse_line(line, 0x81, frame);
    if (parsed != (size > 0 && data[0] != 0)) std::abort();
    if (!parsed) return 0;
    if (frame[0] != frame_head || frame[4] != command_store_plu || frame[36] != 0 ||
        frame[76] != frame_terminator) {
        std::abort();
    }

    std::array<std::uint8_t, record_frame_length> record{};
    std::memcpy(record.data(), frame.data(), record.size());
    const FormattedLine formatted = format_line(ScaleAddress::parse("1S1").value(), record);
    FrameBuffer again{};
    const std::string_view text(reinterpret_cast<const char*>(formatted.data()), line_columns);
    if (!parse_line(text, 0x81, again)) std::abort();
    // The PLU number shows only six digits.
    const std::uint32_t plu = frame[6] | (frame[7] << 8) | (frame[8] << 16);
    for (std::size_t i = payload_index; i < record_frame_length; ++i) {
        if (i == 65 && frame[65] > 9) continue;
        if (i <= 8 && plu > 999999) continue;
        if (frame[i] != again[i]) std::abort();
    }
    return 0;
}
