#include "scale_arguments.hpp"

#include "decimal_argument.hpp"

namespace ktnet {

namespace {

std::optional<std::uint8_t> in_range(std::string_view text, std::int64_t low, std::int64_t high) {
    const auto v = parse_decimal(text);
    if (!v || *v < low || *v > high) return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::optional<ScaleArguments> parse_scale_arguments(std::span<const std::string_view> args) {
    if (args.size() != argument_count) return std::nullopt;
    const auto channel = in_range(args[0], 1, 4);
    const char type_letter = args[1].empty() ? '\0' : upper(args[1].front());
    const auto number = in_range(args[2], 1, 9);
    const auto first = parse_decimal(args[3]);
    const auto last = parse_decimal(args[4]);
    if (!channel || !number || !first || !last) return std::nullopt;
    if (type_letter != 'S' && type_letter != 'T') return std::nullopt;
    return ScaleArguments{*channel, type_letter, *number, as_unsigned32(*first),
                          as_unsigned32(*last), args[5]};
}

}  // namespace ktnet
