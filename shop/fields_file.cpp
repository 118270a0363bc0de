#include "shop/fields_file.hpp"

#include <fmt/format.h>

#include <cstdlib>

#include "formats/plu_files.hpp"

namespace ktnet {

namespace {

#ifdef _WIN32
constexpr const char* file_name = "fields.txt";
#else
constexpr const char* file_name = "fields";
#endif

}  // namespace

std::vector<std::filesystem::path> fields_places(const Shop& shop) {
    std::vector<std::filesystem::path> places;
    if (const char* chosen = std::getenv("KTNET_FIELDS"); chosen != nullptr && *chosen != '\0') {
        if (auto path = path_of(chosen)) places.push_back(*path);
        return places;
    }
    if (!shop.file.empty()) places.push_back(shop.file.parent_path() / file_name);
    for (const auto& shop_place : shop_places()) {
        auto place = shop_place.parent_path() / file_name;
        if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(place);
    }
    return places;
}

Result<ShopFields, std::string> load_fields(const std::string& option, const Shop& shop) {
    std::optional<std::filesystem::path> path;
    if (!option.empty()) {
        path = path_of(option);
        if (!path) return unexpected(fmt::format("--fields {}: not a file name", option));
    } else if (const char* chosen = std::getenv("KTNET_FIELDS");
               chosen != nullptr && *chosen != '\0') {
        // Chosen by name: a file that is not there is an error, not a shop without names.
        path = path_of(chosen);
        if (!path) return unexpected(fmt::format("$KTNET_FIELDS {}: not a file name", chosen));
    } else {
        std::error_code ec;
        for (const auto& place : fields_places(shop)) {
            if (std::filesystem::exists(place, ec)) {
                path = place;
                break;
            }
        }
        if (!path) return ShopFields{};
    }
    const auto bytes = read_file_bytes(path->string());
    if (!bytes) {
        return unexpected(fmt::format("cannot read the fields file {}: {}", path->string(),
                                      bytes.error().reason));
    }
    auto names = FieldNames::parse(*bytes);
    if (!names) return unexpected(fmt::format("{}: {}", path->string(), names.error()));
    return ShopFields{std::move(*names), *path};
}

}  // namespace ktnet
