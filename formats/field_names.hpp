// The names a shop gives the setting fields, and how their digits read: a fields file of lines
//   price = c41_46, 2 decimals
//   ean = c121_134
//   unit = c84
// Blank lines and lines starting with '#' are left out. What a field means is the scale's (its
// own documentation says); ktnet guesses none: a field without a name goes by its columns.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "plu/field_table.hpp"

namespace ktnet {

// A field's own name: its columns ("c41_46"), or "plu" and "name".
std::string column_name(std::size_t field);

class FieldNames {
public:
    FieldNames() = default;  // no names given: every field by its columns

    // The error says which line ("line 3: ...").
    [[nodiscard]] static Result<FieldNames, std::string> parse(std::string_view text);

    // The name a field goes by: the shop's, else its column name.
    std::string name(std::size_t field) const;
    // For a message: "price (c41_46)", or "c41_46" for a field without a name of the shop's.
    std::string shown(std::size_t field) const;
    unsigned decimals(std::size_t field) const;
    bool named(std::size_t field) const { return given_[field].has_value(); }

    // The field a word names (a CSV header, an option): a given name or a column name, in any
    // case of its letters.
    [[nodiscard]] std::optional<std::size_t> find(std::string_view word) const;
    // Every word find() knows, the given names first.
    std::vector<std::string> words() const;
    // The known word closest to an unknown one, for a hint.
    std::string closest(std::string_view word) const;

private:
    struct Given {
        std::string name;
        unsigned decimals = 0;
    };
    std::array<std::optional<Given>, plu_fields.size()> given_{};
};

}  // namespace ktnet
