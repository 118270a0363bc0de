#include "shop/shop_file.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "base/numbers.hpp"
#include "base/text.hpp"
#include "formats/plu_files.hpp"

namespace ktnet {

namespace {

bool valid_name(std::string_view name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        // ASCII by hand: in a Windows code page's locale, isalnum takes UTF-8's lead bytes for
        // letters.
        if ((c < 0x80 && std::isalnum(c)) || c == '-' || c == '_' || c == '.') {
            ++i;
            continue;
        }
        const std::size_t length = letter_beyond_ascii(name, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// "1S1-..." would read as a range.
bool looks_like_range(std::string_view name) {
    return name.size() > 3 && name[3] == '-' && ScaleAddress::parse(name.substr(0, 3));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(trimmed(text.substr(start, end - start)));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

// One item of a scale list: an address, a name, a range or "all"; appends its scales.
std::string add_item(std::string_view item, const Shop& shop, std::vector<ScaleAddress>& out) {
    if (item.empty()) return "an empty item in the list";
    if (same_word(item, "all")) {
        if (shop.scales.empty())
            return "\"all\" needs a shop file that lists the scales (see --shop)";
        for (const ShopScale& s : shop.scales) out.push_back(s.address);
        return {};
    }
    if (const auto address = ScaleAddress::parse(item)) {
        out.push_back(*address);
        return {};
    }
    if (const std::size_t dash = item.find('-'); dash != std::string_view::npos) {
        const auto from = ScaleAddress::parse(item.substr(0, dash));
        std::string_view to = item.substr(dash + 1);
        if (from) {
            // "1S1-9" or "1S1-1S9": the end names the same channel and kind.
            if (const auto end = ScaleAddress::parse(to)) {
                if (end->channel() != from->channel() || end->kind() != from->kind())
                    return fmt::format("the range {} must stay on one channel and kind", item);
                to = to.substr(2);
            }
            const auto last = parse_whole_number(to, 9);
            if (!last || *last < 1 || *last > 9)
                return fmt::format("the range {} must end in a number 1 to 9", item);
            if (*last < from->number()) return fmt::format("the range {} runs downwards", item);
            for (unsigned n = from->number(); n <= *last; ++n)
                out.push_back(*ScaleAddress::make(from->channel(), from->kind(), n));
            return {};
        }
    }
    for (const ShopScale& s : shop.scales) {
        if (same_word(s.name, item)) {
            out.push_back(s.address);
            return {};
        }
    }
    return fmt::format(
        "\"{}\" is neither a scale (channel 1-4, S or T, number 1-9: \"1S1\") nor a name in the "
        "shop file",
        item);
}

}  // namespace

std::string Shop::name_of(const ScaleAddress& address) const {
    for (const ShopScale& s : scales)
        if (s.address == address) return s.name;
    return {};
}

std::string Shop::label(const ScaleAddress& address) const {
    const std::string name = name_of(address);
    return name.empty() ? address.text() : fmt::format("{} {}", address.text(), name);
}

Result<Shop, std::string> parse_shop(std::string_view text) {
    // Notepad starts a UTF-8 file with a byte order mark.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    Shop shop;
    std::size_t line_number = 0;
    for (const std::string_view raw : split(text, '\n')) {
        ++line_number;
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view address_text = line.substr(0, gap);
        const std::string_view name =
            gap == std::string_view::npos ? std::string_view{} : trimmed(line.substr(gap));
        const auto fail = [&](const std::string& why) {
            return unexpected(fmt::format("line {}: {}", line_number, why));
        };
        const auto address = ScaleAddress::parse(address_text);
        if (!address) return fail(fmt::format("\"{}\" is not a scale address", address_text));
        if (!name.empty() && (!valid_name(name) || ScaleAddress::parse(name) ||
                              same_word(name, "all") || looks_like_range(name))) {
            return fail(
                fmt::format("the name \"{}\" must be one word of letters (of any alphabet), "
                            "digits, '-', '_' or '.', and neither an address nor \"all\"",
                            name));
        }
        for (const ShopScale& s : shop.scales) {
            if (s.address == *address)
                return fail(fmt::format("{} is listed twice", address->text()));
            if (!name.empty() && same_word(s.name, name))
                return fail(fmt::format("the name \"{}\" is given twice", name));
        }
        shop.scales.push_back({*address, std::string(name)});
    }
    return shop;
}

std::vector<std::filesystem::path> shop_places() {
    std::vector<std::filesystem::path> places;
    const auto add = [&](const std::optional<std::string>& base,
                         std::initializer_list<const char*> rest) {
        if (!base) return;
        auto path = path_of(*base);
        if (!path) return;
        for (const char* part : rest) *path /= part;
        places.push_back(*path);
    };
    if (auto chosen = environment("KTNET_SHOP")) {
        add(chosen, {});
        return places;
    }
#ifdef _WIN32
    add(environment("APPDATA"), {"ktnet", "shop.txt"});
    add(environment("PROGRAMDATA"), {"ktnet", "shop.txt"});
#else
    if (auto config = environment("XDG_CONFIG_HOME")) {
        add(config, {"ktnet", "shop"});
    } else {
        add(environment("HOME"), {".config", "ktnet", "shop"});
    }
    places.emplace_back("/etc/ktnet/shop");
#endif
    return places;
}

Result<Shop, std::string> load_shop(const std::string& option) {
    std::optional<std::filesystem::path> path;
    bool machine = false;
    if (!option.empty()) {
        path = path_of(option);
        if (!path) return unexpected(fmt::format("--shop {}: not a file name", option));
    } else {
        std::error_code ec;
        const auto places = shop_places();
        for (std::size_t i = 0; i < places.size(); ++i) {
            if (std::filesystem::exists(places[i], ec)) {
                path = places[i];
                // The last place is the machine's, unless $KTNET_SHOP named the one place.
                machine = i + 1 == places.size() && !environment("KTNET_SHOP");
                break;
            }
        }
        if (!path) return Shop{};
    }
    const auto bytes = read_file_bytes(path->string());
    if (!bytes) {
        return unexpected(
            fmt::format("cannot read the shop file {}: {}", path->string(), bytes.error().reason));
    }
    auto parsed = parse_shop(*bytes);
    if (!parsed) return unexpected(fmt::format("{}: {}", path->string(), parsed.error()));
    parsed->file = *path;
    parsed->machine = machine;
    return std::move(*parsed);
}

Result<std::vector<ScaleAddress>, std::string> select_scales(std::string_view text,
                                                             const Shop& shop) {
    std::vector<ScaleAddress> all;
    for (const std::string_view item : split(text, ',')) {
        const std::string error = add_item(item, shop, all);
        if (!error.empty()) return unexpected(error);
    }
    std::vector<ScaleAddress> scales;
    for (const ScaleAddress& a : all)
        if (std::find(scales.begin(), scales.end(), a) == scales.end()) scales.push_back(a);
    return scales;
}

std::optional<ScaleAddress> single_scale(std::string_view text, const Shop& shop) {
    const std::string_view item = trimmed(text);
    if (const auto address = ScaleAddress::parse(item)) return address;
    // A name may hold '-', so a name is looked for as a whole, never as a range.
    for (const ShopScale& s : shop.scales)
        if (!s.name.empty() && same_word(s.name, item)) return s.address;
    return std::nullopt;
}

std::optional<std::vector<ScaleAddress>> scales_of_source(std::string_view text, const Shop& shop) {
    if (const auto one = single_scale(text, shop)) return std::vector<ScaleAddress>{*one};
    std::error_code ec;
    if (const auto path = path_of(text); path && std::filesystem::exists(*path, ec))
        return std::nullopt;
    auto many = select_scales(text, shop);
    if (!many) return std::nullopt;
    return std::move(*many);
}

}  // namespace ktnet
