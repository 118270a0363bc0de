// The numbers every layer agrees on.
#pragma once

#include <cstdint>

namespace ktnet {

// A request for a record carries 16 bits of its PLU number: no higher PLU can be read back.
inline constexpr std::uint32_t highest_request_plu = 0xFFFF;
// rdk's highest PLU, and where ktnet's reads of a whole scale end unless told otherwise.
inline constexpr std::uint32_t default_last_plu = 10000;
// A line shows six decimal digits of a PLU number.
inline constexpr std::uint32_t line_plu_numbers = 1000000;

}  // namespace ktnet
