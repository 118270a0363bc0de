// What a file that holds no PLU lines looks like, from its first line, so that a message can
// name it and say what to do with it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ktnet {

// "this is a CSV file, not a PLU file: turn it into one with ktnet import ...", for a CSV, a
// load's log or ldk's wynik.txt; nothing for anything else.
[[nodiscard]] std::optional<std::string> what_it_looks_like(std::string_view first_line);

}  // namespace ktnet
