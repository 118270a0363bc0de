// Numbers on the command line: leading white space, one optional sign, then the digits up to
// the first other character. A text without leading digits is 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ktnet {

// The value, or nothing when its magnitude does not fit in 32 bits. Unlike the C library's
// conversion it never wraps, so an out-of-range text cannot land inside a valid range.
[[nodiscard]] std::optional<std::int64_t> parse_decimal(std::string_view text);

// The value as an unsigned 32-bit comparison sees it: a negative number is a very large one.
constexpr std::uint32_t as_unsigned32(std::int64_t value) {
    return static_cast<std::uint32_t>(value);
}

}  // namespace ktnet
