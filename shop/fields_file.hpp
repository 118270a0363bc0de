// The shop's fields file (field_names.hpp), found where the shop file is: given with --fields
// FILE; else $KTNET_FIELDS; else "fields" beside the shop file in use ("fields.txt" on Windows);
// else in the shop file's default places, the user's then the machine's. No file: every field
// goes by its columns.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "formats/field_names.hpp"
#include "shop/shop_file.hpp"

namespace ktnet {

struct ShopFields {
    FieldNames names;
    std::filesystem::path file;  // empty when there was none
};

[[nodiscard]] std::vector<std::filesystem::path> fields_places(const Shop& shop);

// The names of --fields FILE (which must exist), or of the first place that holds a file.
[[nodiscard]] Result<ShopFields, std::string> load_fields(const std::string& option,
                                                          const Shop& shop);

}  // namespace ktnet
