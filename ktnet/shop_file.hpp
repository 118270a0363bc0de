// The shop: which scales it has and what people call them. A shop file holds one scale per
// line, its address then its name ("1S1 deli"); blank lines and lines starting with '#' are
// left out. Scales are chosen on the command line by address, list, range, name or "all".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/numbers.hpp"
#include "link/scale_address.hpp"

namespace ktnet {

struct ShopScale {
    ScaleAddress address;
    std::string name;  // empty when the shop file gives none
};

struct Shop {
    std::vector<ShopScale> scales;  // in the file's order

    // The name of a scale, or an empty string.
    std::string name_of(const ScaleAddress& address) const;
    // "1S1 deli", or "1S1" for a scale without a name.
    std::string label(const ScaleAddress& address) const;
};

struct ShopParse {
    std::optional<Shop> shop;
    std::string error;  // "line 3: ...", set when shop is empty
};

// A name is one word of letters, digits, '-', '_' and '.', that is not an address nor "all",
// given to one scale only; a scale has at most one line.
[[nodiscard]] ShopParse parse_shop(std::string_view text);

// Where the shop file is looked for without --shop: $KTNET_SHOP when set; otherwise
// $XDG_CONFIG_HOME/ktnet/shop (or ~/.config/ktnet/shop) on Linux, %APPDATA%\ktnet\shop.txt on
// Windows. Nothing when no such place can be named.
[[nodiscard]] std::optional<std::filesystem::path> default_shop_path();

struct ShopLoad {
    std::optional<Shop> shop;
    std::string error;
};

// The shop of --shop FILE (which must exist), or of the default place (an absent file there
// is an empty shop: addresses still work, names and "all" do not).
[[nodiscard]] ShopLoad load_shop(const std::string& option);

struct ScaleSelection {
    std::vector<ScaleAddress> scales;  // each once, in the order first named
    std::string error;                 // set when the text chooses no scale
};

// "1S1", "deli", "1S1,1S2", "1S1-9", "1S1-1S9", "all", or any list of these. A range keeps
// channel and kind and runs over numbers, upwards; "all" is every scale of the shop file.
[[nodiscard]] ScaleSelection select_scales(std::string_view text, const Shop& shop);

// The scale a command-line source names when it is one scale: an address or a name of the shop
// file ("1S1", "deli", "fish-counter"), never a list, a range or "all". Nothing otherwise, and
// the source is then a file ("./1S1" for a file of that name).
[[nodiscard]] std::optional<ScaleAddress> single_scale(std::string_view text, const Shop& shop);

}  // namespace ktnet
