// The six positional arguments both programs share: channel, S|T, scale number, first, last,
// file name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/scale_address.hpp"

namespace ktnet {

inline constexpr std::size_t argument_count = 6;

struct ScaleArguments {
    ScaleAddress scale;
    std::uint32_t first;  // compared unsigned: a negative number is a very large one
    std::uint32_t last;
    std::string_view file_name;

    // The file name as a path; nothing when it cannot be one (on Windows the name is converted
    // from the ANSI code page, which can fail).
    [[nodiscard]] std::optional<std::filesystem::path> file_path() const;
};

// Exactly six arguments, each within its range as a whole value (never wrapped into range);
// first and last must fit in 32 bits, a negative one as a negative 32-bit number. The range
// checks on first and last are each program's.
[[nodiscard]] std::optional<ScaleArguments> parse_scale_arguments(
    std::span<const std::string_view> args);

// Why parse_scale_arguments refuses args, in a few English words; empty when it does not.
std::string scale_argument_problem(std::span<const std::string_view> args);

}  // namespace ktnet
