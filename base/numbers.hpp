// Numbers as people give them on a command line or in a file: whole numbers of digits alone,
// ranges "A-B" and lists "1-50,77".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace ktnet {

// Digits alone, at most max; nothing otherwise (a sign, a blank, an empty text, an overflow).
[[nodiscard]] std::optional<std::uint32_t> parse_whole_number(std::string_view text,
                                                              std::uint32_t max);

struct NumberRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

// "A-B" with lowest <= A <= B <= highest, or a single number "A".
[[nodiscard]] std::optional<NumberRange> parse_number_range(std::string_view text,
                                                            std::uint32_t lowest,
                                                            std::uint32_t highest);

struct NumberSet {
    std::vector<NumberRange> ranges;  // as written

    bool contains(std::uint32_t n) const;
    // Every number of the set, in the order written, each once.
    std::vector<std::uint32_t> numbers() const;
};

// "1,2", "1-4,7", "3": a list of numbers and ranges, each within [lowest, highest]; the reason
// when the text is not one.
[[nodiscard]] Result<NumberSet, std::string> parse_number_set(std::string_view text,
                                                              std::uint32_t lowest,
                                                              std::uint32_t highest);

}  // namespace ktnet
