// Any answer bytes: unescape stays inside its buffers and never returns more than 251 bytes.
// Any 77-byte raw frame: escape then unescape gives it back.
#include <cstdlib>
#include <cstring>

#include "link/frame.hpp"

using namespace ktnet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FrameBuffer in{}, out{};
    std::memcpy(in.data(), data, std::min(size, in.size()));
    const std::size_t n = unescape(in, out);
    if (n < bare_frame_length || n > max_unescaped_length) std::abort();

    FrameBuffer raw{}, escaped{}, back{};
    std::memcpy(raw.data(), data, std::min(size, record_frame_length));
    raw[record_frame_length - 1] = frame_terminator;
    checksum(record_frame_length, raw);
    const std::size_t e = escape(record_frame_length, raw, escaped);
    if (e > 149 || escaped[e - 1] != frame_terminator) std::abort();
    if (unescape(escaped, back) != record_frame_length) std::abort();
    if (std::memcmp(raw.data(), back.data(), record_frame_length) != 0) std::abort();
    return 0;
}
