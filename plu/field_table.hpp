// Where each field of a PLU record sits in the 77-byte frame and in the 140-column text line.
// Both conversions walk this one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ktnet {

enum class FieldEncoding : std::uint8_t {
    plu_number,          // 3 bytes, little-endian, shown as six decimal digits
    raw,                 // bytes copied as they are (the name)
    bcd,                 // two digit characters per byte, high nibble first
    digit,               // one character: the byte plus '0'
    decimal,             // two characters: byte / 10 and byte % 10, each plus '0'
    decimal_out_bcd_in,  // written as decimal, read back as BCD
};

struct PluField {
    std::uint8_t column;      // first column in the text line
    std::uint8_t frame_byte;  // first byte in the raw frame
    std::uint8_t bytes;       // frame bytes the field occupies
    FieldEncoding encoding;
};

// Columns a field occupies in the text line.
constexpr std::size_t field_width(const PluField& f) {
    switch (f.encoding) {
        case FieldEncoding::plu_number:
            return 6;
        case FieldEncoding::raw:
            return f.bytes;
        case FieldEncoding::bcd:
            return 2u * f.bytes;
        case FieldEncoding::digit:
            return 1;
        case FieldEncoding::decimal:
        case FieldEncoding::decimal_out_bcd_in:
            return 2;
    }
    return 0;
}

inline constexpr std::array<PluField, 23> plu_fields = {{
    {9, 6, 3, FieldEncoding::plu_number}, {16, 9, 24, FieldEncoding::raw},
    {41, 33, 3, FieldEncoding::bcd},      {50, 37, 3, FieldEncoding::bcd},
    {57, 40, 3, FieldEncoding::bcd},      {64, 43, 3, FieldEncoding::bcd},
    {71, 46, 3, FieldEncoding::bcd},      {78, 49, 1, FieldEncoding::bcd},
    {81, 50, 1, FieldEncoding::bcd},      {84, 51, 1, FieldEncoding::digit},
    {86, 52, 1, FieldEncoding::digit},    {88, 53, 1, FieldEncoding::bcd},
    {91, 54, 1, FieldEncoding::digit},    {93, 55, 1, FieldEncoding::digit},
    {95, 56, 1, FieldEncoding::decimal},  {98, 57, 1, FieldEncoding::decimal},
    {101, 58, 3, FieldEncoding::bcd},     {108, 61, 3, FieldEncoding::bcd},
    {115, 64, 1, FieldEncoding::bcd},     {118, 65, 1, FieldEncoding::decimal_out_bcd_in},
    {121, 66, 7, FieldEncoding::bcd},     {136, 73, 1, FieldEncoding::bcd},
    {139, 74, 1, FieldEncoding::digit},
}};

// Text line columns that carry no frame byte.
inline constexpr std::size_t line_columns = 140;
inline constexpr std::size_t formatted_line_length = line_columns + 2;  // CR LF
inline constexpr std::size_t max_line_length = 142;  // longest line the loader takes
inline constexpr std::size_t channel_column = 0;
inline constexpr std::size_t type_column = 2;
inline constexpr std::size_t scale_number_column = 4;
inline constexpr std::size_t marker_column = 7;        // "xx"
inline constexpr std::size_t unused_byte_column = 48;  // always "x"
inline constexpr std::size_t unused_frame_byte = 36;   // never shown, always sent as 0

inline constexpr std::size_t name_frame_byte = 9;
inline constexpr std::size_t name_length = 24;
inline constexpr std::size_t name_column = 16;

// The table must tile frame bytes 6..74, but for the unused byte 36, and leave one space
// between neighbouring fields (two around the "x" column); checked here so that an edit cannot
// break either.
consteval bool plu_fields_consistent() {
    std::size_t next_byte = 6;
    std::size_t next_column = 9;
    for (const PluField& f : plu_fields) {
        if (f.frame_byte == unused_frame_byte + 1) {
            if (next_byte != unused_frame_byte || next_column != unused_byte_column) return false;
            next_byte = unused_frame_byte + 1;
            next_column = unused_byte_column + 2;
        }
        if (f.frame_byte != next_byte || f.column != next_column) return false;
        next_byte += f.bytes;
        next_column += field_width(f) + 1;
    }
    return next_byte == 75 && next_column == line_columns + 1;
}
static_assert(plu_fields_consistent());

}  // namespace ktnet
