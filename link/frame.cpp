#include "frame.hpp"

#include <algorithm>

#include "little_endian.hpp"

namespace ktnet {

namespace {

constexpr bool needs_escape(std::uint8_t b) {
    return b >= escaped_range_first && b <= escaped_range_last;
}

}  // namespace

void checksum(std::size_t n, std::span<std::uint8_t, frame_buffer_size> frame) {
    if (n < bare_frame_length + 1 || n > frame_buffer_size) return;
    std::uint8_t sum = 0;
    for (std::size_t i = address_index; i <= n - 3; ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    frame[n - 2] = static_cast<std::uint8_t>(-sum);
}

std::size_t escape(std::size_t n, std::span<const std::uint8_t, frame_buffer_size> raw,
                   std::span<std::uint8_t, frame_buffer_size> out) {
    if (n < bare_frame_length) return 0;
    // Each byte may double; keep the result inside the buffer whatever n is.
    if (n > frame_buffer_size / 2) n = frame_buffer_size / 2;
    std::size_t o = 0;
    for (std::size_t i = 0; i < command_index; ++i) out[o++] = raw[i];
    for (std::size_t i = command_index; i + 1 < n; ++i) {
        if (needs_escape(raw[i])) {
            out[o++] = escape_byte;
            out[o++] = static_cast<std::uint8_t>(raw[i] - escaped_range_first);
        } else {
            out[o++] = raw[i];
        }
    }
    out[o++] = raw[n - 1];
    return o;
}

std::size_t unescape(std::span<const std::uint8_t, frame_buffer_size> in,
                     std::span<std::uint8_t, frame_buffer_size> out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < command_index; ++i) out[o++] = in[i];
    if (in[command_index] == frame_terminator) {
        out[o++] = frame_terminator;
        return o;
    }
    std::size_t i = command_index;
    while (in[i] != frame_terminator && i <= unescape_scan_limit) {
        if (in[i] == escape_byte) {
            out[o++] = static_cast<std::uint8_t>(in[i + 1] + escaped_range_first);
            i += 2;
        } else {
            out[o++] = in[i++];
        }
    }
    out[o++] = in[i];
    return o;
}

void build_opening_frame(std::span<std::uint8_t, frame_buffer_size> frame) {
    constexpr std::array<std::uint8_t, 9> head = {frame_head, frame_head, 1, 0, command_open,
                                                  1,          1,          0, 0};
    for (std::size_t i = 0; i < head.size(); ++i) frame[i] = head[i];
    frame[short_frame_length - 1] = frame_terminator;
}

void build_request_frame(std::uint8_t address_byte, std::uint32_t plu,
                         std::span<std::uint8_t, frame_buffer_size> frame) {
    const std::array<std::uint8_t, short_frame_length> request = {
        frame_head, frame_head, address_byte,    0, command_request_plu, 1, 0, 0,
        0,          0,          frame_terminator};
    std::copy(request.begin(), request.end(), frame.begin());
    write_le16(plu, frame.subspan<payload_index, 2>());
}

void build_store_frame(std::uint8_t address_byte, const RecordFrame& record,
                       std::span<std::uint8_t, frame_buffer_size> frame) {
    const std::array<std::uint8_t, payload_index> head = {
        frame_head, frame_head, address_byte, 0, command_store_plu, 1};
    std::copy(head.begin(), head.end(), frame.begin());
    std::copy(record.begin() + payload_index, record.begin() + record_checksum_index,
              frame.begin() + payload_index);
    frame[record_checksum_index] = 0;
    frame[record_frame_length - 1] = frame_terminator;
}

std::uint32_t record_plu(std::span<const std::uint8_t, record_frame_length> record) {
    return read_le24(record.subspan<record_plu_index, 3>());
}

std::uint8_t record_checksum_excess(std::span<const std::uint8_t, record_frame_length> record) {
    std::uint8_t sum = 0;
    for (std::size_t i = address_index; i <= record_checksum_index; ++i) {
        sum = static_cast<std::uint8_t>(sum + record[i]);
    }
    return sum;
}

bool record_checksum_holds(std::span<const std::uint8_t, record_frame_length> record) {
    return record_checksum_excess(record) == 0;
}

}  // namespace ktnet
