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
#include "base/result.hpp"
#include "link/scale_address.hpp"

namespace ktnet {

struct ShopScale {
    ScaleAddress address;
    std::string name;  // empty when the shop file gives none
};

struct Shop {
    std::vector<ShopScale> scales;  // in the file's order
    std::filesystem::path file{};   // where it was read from; empty when there was no file
    bool machine = false;           // the machine's own shop file, not a user's

    // The name of a scale, or an empty string.
    std::string name_of(const ScaleAddress& address) const;
    // "1S1 deli", or "1S1" for a scale without a name.
    std::string label(const ScaleAddress& address) const;
};

// A name is one word of letters (of any alphabet), digits, '-', '_' and '.', that is not an
// address nor "all", given to one scale only; a scale has at most one line. The error says which
// line ("line 3: ...").
[[nodiscard]] Result<Shop, std::string> parse_shop(std::string_view text);

// Where the shop file is looked for without --shop, in this order: $KTNET_SHOP when set; the
// user's own, $XDG_CONFIG_HOME/ktnet/shop (or ~/.config/ktnet/shop) on Linux,
// %APPDATA%\ktnet\shop.txt on Windows; then the machine's, /etc/ktnet/shop on Linux,
// %PROGRAMDATA%\ktnet\shop.txt on Windows, for a service or a timer that runs without a home.
[[nodiscard]] std::vector<std::filesystem::path> shop_places();

// The shop of --shop FILE (which must exist), or of the first default place that holds a file
// (none: an empty shop, where addresses still work, names and "all" do not).
[[nodiscard]] Result<Shop, std::string> load_shop(const std::string& option);

// "1S1", "deli", "1S1,1S2", "1S1-9", "1S1-1S9", "all", or any list of these: the scales, each
// once, in the order first named. A range keeps channel and kind and runs over numbers,
// upwards; "all" is every scale of the shop file.
[[nodiscard]] Result<std::vector<ScaleAddress>, std::string> select_scales(std::string_view text,
                                                                           const Shop& shop);

// The scale a command-line source names when it is one scale: an address or a name of the shop
// file ("1S1", "deli", "fish-counter"), never a list, a range or "all". Nothing otherwise, and
// the source is then a file ("./1S1" for a file of that name).
[[nodiscard]] std::optional<ScaleAddress> single_scale(std::string_view text, const Shop& shop);

// The scales a command-line source names, when it names scales at all: an address, a name, a
// list, a range or "all". Nothing when it is a file (an existing file is always a file).
[[nodiscard]] std::optional<std::vector<ScaleAddress>> scales_of_source(std::string_view text,
                                                                        const Shop& shop);

}  // namespace ktnet
