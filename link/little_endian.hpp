// The bus's multi-byte numbers: least significant byte first. PLU numbers travel as 16 bits in
// a request and as 24 bits in a record.
#pragma once

#include <cstdint>
#include <span>

namespace ktnet {

constexpr std::uint32_t read_le16(std::span<const std::uint8_t, 2> bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8;
}

constexpr std::uint32_t read_le24(std::span<const std::uint8_t, 3> bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16;
}

// The low 16 bits of value.
constexpr void write_le16(std::uint32_t value, std::span<std::uint8_t, 2> bytes) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

// The low 24 bits of value.
constexpr void write_le24(std::uint32_t value, std::span<std::uint8_t, 3> bytes) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
}

}  // namespace ktnet
