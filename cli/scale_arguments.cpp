#include "scale_arguments.hpp"

#include <limits>

#include "decimal_argument.hpp"

namespace ktnet {

namespace {

std::optional<std::uint8_t> in_range(std::string_view text, std::int64_t low, std::int64_t high) {
    const auto v = parse_decimal(text);
    if (!v || *v < low || *v > high) return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}

// first or last as the range checks compare it: 32 bits unsigned, where a negative number is
// a very large one. A negative number must fit in 32 bits as well: -4294967295 would
// otherwise come out as 1 and pass the range checks.
std::optional<std::uint32_t> range_bound(std::string_view text) {
    const auto v = parse_decimal(text);
    if (!v || *v < std::numeric_limits<std::int32_t>::min()) return std::nullopt;
    return as_unsigned32(*v);
}

}  // namespace

std::optional<std::filesystem::path> ScaleArguments::file_path() const {
    try {
        return std::filesystem::path(file_name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<ScaleArguments> parse_scale_arguments(std::span<const std::string_view> args) {
    if (args.size() != argument_count) return std::nullopt;
    const auto channel = in_range(args[0], 1, 4);
    const char kind = args[1].empty() ? '\0' : args[1].front();
    const auto number = in_range(args[2], 1, 9);
    const auto first = range_bound(args[3]);
    const auto last = range_bound(args[4]);
    if (!channel || !number || !first || !last) return std::nullopt;
    const auto scale = ScaleAddress::make(*channel, kind, *number);
    if (!scale) return std::nullopt;
    return ScaleArguments{*scale, *first, *last, args[5]};
}

std::string scale_argument_problem(std::span<const std::string_view> args) {
    // Appended piece by piece: GCC 12 warns falsely about chains of string + (-Wrestrict).
    const auto said = [](std::string text, std::string_view value, std::string_view after) {
        text.append(value).append(after);
        return text;
    };
    if (args.size() != argument_count) {
        return said("expected 6 arguments (channel, S or T, number, first, last, file), got ",
                    std::to_string(args.size()), "");
    }
    if (!in_range(args[0], 1, 4)) return said("the channel must be 1 to 4, not '", args[0], "'");
    if (!ScaleAddress::make(1, args[1].empty() ? '\0' : args[1].front(), 1)) {
        return said("the second argument must be S or T, not '", args[1], "'");
    }
    if (!in_range(args[2], 1, 9)) {
        return said("the scale number must be 1 to 9, not '", args[2], "'");
    }
    for (const std::size_t i : {3u, 4u}) {
        if (!range_bound(args[i])) return said("'", args[i], "' does not fit in 32 bits");
    }
    return {};
}

}  // namespace ktnet
