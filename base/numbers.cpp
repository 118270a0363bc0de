#include "numbers.hpp"

#include <algorithm>

#include "text.hpp"

namespace ktnet {

std::optional<std::uint32_t> parse_whole_number(std::string_view text, std::uint32_t max) {
    if (text.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > max) return std::nullopt;
    }
    return static_cast<std::uint32_t>(v);
}

std::optional<NumberRange> parse_number_range(std::string_view text, std::uint32_t lowest,
                                              std::uint32_t highest) {
    const std::size_t dash = text.find('-');
    const auto first = parse_whole_number(trimmed(text.substr(0, dash)), highest);
    const auto last = dash == std::string_view::npos
                          ? first
                          : parse_whole_number(trimmed(text.substr(dash + 1)), highest);
    if (!first || !last || *first < lowest || *first > *last) return std::nullopt;
    return NumberRange{*first, *last};
}

bool NumberSet::contains(std::uint32_t n) const {
    return std::any_of(ranges.begin(), ranges.end(),
                       [n](const NumberRange& r) { return n >= r.first && n <= r.last; });
}

std::vector<std::uint32_t> NumberSet::numbers() const {
    std::vector<std::uint32_t> all;
    for (const NumberRange& r : ranges) {
        for (std::uint64_t n = r.first; n <= r.last; ++n) {
            const auto v = static_cast<std::uint32_t>(n);
            // A later range may repeat a number of an earlier one; it counts once.
            const bool before = std::any_of(ranges.data(), &r, [v](const NumberRange& e) {
                return v >= e.first && v <= e.last;
            });
            if (!before) all.push_back(v);
        }
    }
    return all;
}

Result<NumberSet, std::string> parse_number_set(std::string_view text, std::uint32_t lowest,
                                                std::uint32_t highest) {
    NumberSet set;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = trimmed(text.substr(start, comma - start));
        const auto range = parse_number_range(item, lowest, highest);
        if (!range) {
            return unexpected(
                join({"\"", item, "\" is not a number or a rising range A-B of numbers ",
                      std::to_string(lowest), " to ", std::to_string(highest)}));
        }
        set.ranges.push_back(*range);
        if (comma == std::string_view::npos) return set;
        start = comma + 1;
    }
}

}  // namespace ktnet
