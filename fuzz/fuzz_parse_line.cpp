// Any line: parse_line accepts exactly the lines that do not start with NUL, and a parsed
// record, formatted and parsed again, gives the same record wherever the line format is two-way
// (byte 65 only below 10).
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "plu/plu_line.hpp"

using namespace ktnet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > max_line_length) return -1;  // the loader never hands over longer lines
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    RecordFrame record{};
    const bool parsed = parse_line(line, record);
    if (parsed != (size > 0 && data[0] != 0)) std::abort();
    if (!parsed) return 0;
    // Only the record's fields are filled, byte 36 never.
    for (const std::size_t i : {0u, 1u, 2u, 3u, 4u, 5u, 36u, 75u, 76u}) {
        if (record[i] != 0) std::abort();
    }

    const FormattedLine formatted = format_line(ScaleAddress::parse("1S1").value(), record);
    RecordFrame again{};
    const std::string_view text(reinterpret_cast<const char*>(formatted.data()), line_columns);
    if (!parse_line(text, again)) std::abort();
    // The PLU number shows only six digits.
    const std::uint32_t plu = record_plu(record);
    for (std::size_t i = payload_index; i < record_frame_length; ++i) {
        if (i == 65 && record[65] > 9) continue;
        if (i <= 8 && plu > 999999) continue;
        if (record[i] != again[i]) std::abort();
    }
    return 0;
}
