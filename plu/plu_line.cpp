#include "plu_line.hpp"

#include <algorithm>

#include "link/little_endian.hpp"

namespace ktnet {

namespace {

constexpr std::uint8_t zero = '0';

constexpr std::uint8_t digit_char(unsigned value) {
    return static_cast<std::uint8_t>(value + zero);
}

// Character code at a column, taken as an unsigned byte, minus '0'; may be negative.
constexpr int digit_value(std::span<const std::uint8_t> line, std::size_t column) {
    return static_cast<int>(line[column]) - zero;
}

void write_field(const PluField& f, std::span<const std::uint8_t> frame,
                 std::span<std::uint8_t> line) {
    auto col = line.begin() + f.column;
    auto byte = frame.begin() + f.frame_byte;
    switch (f.encoding) {
        case FieldEncoding::plu_number: {
            std::uint32_t v = read_le24(std::span<const std::uint8_t, 3>(byte, 3));
            for (int i = 5; i >= 0; --i, v /= 10) col[i] = digit_char(v % 10);
            break;
        }
        case FieldEncoding::raw:
            std::copy_n(byte, f.bytes, col);
            break;
        case FieldEncoding::bcd:
            for (std::size_t i = 0; i < f.bytes; ++i) {
                *col++ = static_cast<std::uint8_t>((byte[i] >> 4) | zero);
                *col++ = static_cast<std::uint8_t>((byte[i] & 0x0F) | zero);
            }
            break;
        case FieldEncoding::digit:
            *col = static_cast<std::uint8_t>(*byte + zero);
            break;
        case FieldEncoding::decimal:
        case FieldEncoding::decimal_out_bcd_in:
            col[0] = digit_char(*byte / 10u);
            col[1] = digit_char(*byte % 10u);
            break;
    }
}

void read_field(const PluField& f, std::span<const std::uint8_t> line,
                std::span<std::uint8_t> frame) {
    auto byte = frame.begin() + f.frame_byte;
    const std::size_t c = f.column;
    switch (f.encoding) {
        case FieldEncoding::plu_number: {
            std::int32_t v = 0;
            for (std::size_t i = 0; i < 6; ++i) v = v * 10 + digit_value(line, c + i);
            write_le24(static_cast<std::uint32_t>(v), std::span<std::uint8_t, 3>(byte, 3));
            break;
        }
        case FieldEncoding::raw:
            std::copy_n(line.begin() + c, f.bytes, byte);
            break;
        case FieldEncoding::bcd:
        case FieldEncoding::decimal_out_bcd_in:
            for (std::size_t i = 0; i < f.bytes; ++i) {
                byte[i] = static_cast<std::uint8_t>(16 * digit_value(line, c + 2 * i) +
                                                    digit_value(line, c + 2 * i + 1));
            }
            break;
        case FieldEncoding::digit:
            *byte = static_cast<std::uint8_t>(digit_value(line, c));
            break;
        case FieldEncoding::decimal:
            *byte = static_cast<std::uint8_t>(10 * digit_value(line, c) + digit_value(line, c + 1));
            break;
    }
}

}  // namespace

FormattedLine format_line(const ScaleAddress& scale,
                          std::span<const std::uint8_t, record_frame_length> record) {
    FormattedLine line;
    line.fill(' ');
    line[channel_column] = digit_char(scale.channel());
    line[type_column] = static_cast<std::uint8_t>(scale.kind());
    line[scale_number_column] = digit_char(scale.number() / 10u);
    line[scale_number_column + 1] = digit_char(scale.number() % 10u);
    line[marker_column] = 'x';
    line[marker_column + 1] = 'x';
    line[unused_byte_column] = 'x';
    for (const PluField& f : plu_fields) write_field(f, record, line);
    line[line_columns] = '\r';
    line[line_columns + 1] = '\n';
    return line;
}

bool parse_line(std::string_view line, RecordFrame& record) {
    if (line.empty() || line.front() == '\0') return false;
    // Fixed columns of a padded copy: "0" past the end of a short line, spaces in the name.
    std::array<std::uint8_t, max_line_length> padded;
    padded.fill('0');
    std::fill_n(padded.begin() + name_column, name_length, ' ');
    const std::size_t n = std::min(line.size(), padded.size());
    std::copy_n(line.begin(), n, padded.begin());

    record.fill(0);
    for (const PluField& f : plu_fields) read_field(f, padded, record);
    return true;
}

std::string columns_as_read(std::string_view line) {
    std::string columns(line.substr(0, std::min(line.size(), line_columns)));
    const std::size_t present = columns.size();
    columns.resize(line_columns, '0');
    for (std::size_t c = std::max(present, name_column); c < name_column + name_length; ++c)
        columns[c] = ' ';
    return columns;
}

bool parse_line_as_written(std::string_view line, RecordFrame& record) {
    if (!parse_line(line, record)) return false;
    for (const PluField& f : plu_fields) {
        if (f.encoding != FieldEncoding::decimal_out_bcd_in) continue;
        const auto digit = [&](std::size_t c) {
            return c < line.size() ? static_cast<std::uint8_t>(line[c]) - '0' : 0;
        };
        record[f.frame_byte] =
            static_cast<std::uint8_t>(10 * digit(f.column) + digit(f.column + 1));
    }
    return true;
}

bool blank_name(const RecordFrame& record) {
    return std::all_of(record.begin() + name_frame_byte,
                       record.begin() + name_frame_byte + name_length,
                       [](std::uint8_t b) { return b == ' ' || b == 0; });
}

bool settings_zero(const RecordFrame& record) {
    for (std::size_t i = name_frame_byte + name_length; i < record_checksum_index; ++i)
        if (i != unused_frame_byte && record[i] != 0) return false;
    return true;
}

}  // namespace ktnet
