// KT-NET frames: layout constants, checksum, escaping and the opening frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/limits.hpp"

namespace ktnet {

// Every frame buffer has this size; an escaped 77-byte record needs at most 149 bytes of it.
inline constexpr std::size_t frame_buffer_size = 300;
using FrameBuffer = std::array<std::uint8_t, frame_buffer_size>;

inline constexpr std::uint8_t frame_head = 0x7C;        // '|'
inline constexpr std::uint8_t frame_terminator = 0x7D;  // '}'
inline constexpr std::uint8_t escape_byte = 0x7E;       // '~'
inline constexpr std::uint8_t escaped_range_first = 0x7C;
inline constexpr std::uint8_t escaped_range_last = 0x7F;

// Byte positions in a raw frame.
inline constexpr std::size_t address_index = 2;
inline constexpr std::size_t command_index = 4;
inline constexpr std::size_t flag_index = 5;
inline constexpr std::size_t payload_index = 6;

inline constexpr std::uint8_t command_open = 0x4B;         // 'K', to the controller
inline constexpr std::uint8_t command_request_plu = 0x50;  // 'P'
inline constexpr std::uint8_t command_store_plu = 0x51;    // 'Q'
inline constexpr std::uint8_t answer_bit = 0x80;
inline constexpr std::uint8_t answer_plu = command_request_plu | answer_bit;   // 0xD0
inline constexpr std::uint8_t answer_stored = command_store_plu | answer_bit;  // 0xD1

inline constexpr std::size_t bare_frame_length = 5;     // head, address, 0, terminator only
inline constexpr std::size_t short_frame_length = 11;   // 'K' and 'P'
inline constexpr std::size_t record_frame_length = 77;  // 'Q' and its 0xD0 twin

// unescape() never scans past this index, so its result is at most 251 bytes.
inline constexpr std::size_t unescape_scan_limit = 249;
inline constexpr std::size_t max_unescaped_length = unescape_scan_limit + 2;

// A PLU record as it travels: the 77-byte frame of the 'Q' store and of its 0xD0 twin, with
// the PLU number in bytes 6-8, the name in 9-32 and the settings in 33-74.
using RecordFrame = std::array<std::uint8_t, record_frame_length>;
inline constexpr std::size_t record_plu_index = payload_index;
inline constexpr std::size_t record_checksum_index = record_frame_length - 2;

// Stores in byte n-2 the value that makes bytes 2..n-2 sum to zero modulo 256.
// Frames shorter than 6 bytes carry no checksum and are left alone.
void checksum(std::size_t n, std::span<std::uint8_t, frame_buffer_size> frame);

// Escapes the n-byte raw frame into out: bytes 4..n-2 in 0x7C..0x7F become 0x7E, byte-0x7C.
// Returns the escaped length, which the bus itself never carries.
std::size_t escape(std::size_t n, std::span<const std::uint8_t, frame_buffer_size> raw,
                   std::span<std::uint8_t, frame_buffer_size> out);

// Reverses escape() for a frame of unknown length; stops at the terminator or at the scan
// limit and copies the byte it stopped at. Returns the number of bytes written (5..251).
std::size_t unescape(std::span<const std::uint8_t, frame_buffer_size> in,
                     std::span<std::uint8_t, frame_buffer_size> out);

// Writes the 11-byte opening frame except its checksum byte.
void build_opening_frame(std::span<std::uint8_t, frame_buffer_size> frame);

// Writes the 11-byte request for one PLU record except its checksum; plu must be at most
// highest_request_plu (only its low 16 bits are carried).
void build_request_frame(std::uint8_t address_byte, std::uint32_t plu,
                         std::span<std::uint8_t, frame_buffer_size> frame);

// Writes the 77-byte store frame carrying bytes 6-74 of record except its checksum byte.
void build_store_frame(std::uint8_t address_byte, const RecordFrame& record,
                       std::span<std::uint8_t, frame_buffer_size> frame);

// The PLU number a record carries.
std::uint32_t record_plu(std::span<const std::uint8_t, record_frame_length> record);

// What bytes 2 to 75 of a record frame sum to modulo 256: 0 when its checksum holds.
std::uint8_t record_checksum_excess(std::span<const std::uint8_t, record_frame_length> record);

// True when bytes 2 to 75 of a record frame sum to zero modulo 256.
[[nodiscard]] bool record_checksum_holds(std::span<const std::uint8_t, record_frame_length> record);

}  // namespace ktnet
