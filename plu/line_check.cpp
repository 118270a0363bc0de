#include "line_check.hpp"

#include <algorithm>

namespace ktnet {

namespace {

constexpr std::array<ColumnRule, line_columns> rules = column_rules();

constexpr std::size_t byte65_column = 118;
static_assert(rules[byte65_column] == ColumnRule::decimal_tens);

constexpr std::string_view expected_text(ColumnRule rule) {
    switch (rule) {
        case ColumnRule::digit:
        case ColumnRule::bcd:  // ':' to '?' are the digits 10 to 15, which a line rarely holds
            return "a digit";
        case ColumnRule::decimal_tens:
            return "a digit or a letter A to I";
        case ColumnRule::any:
            break;
    }
    return "any character";
}

std::uint8_t at(std::string_view line, std::size_t column) {
    return static_cast<std::uint8_t>(line[column]);
}

}  // namespace

std::optional<NumberColumnFault> find_number_column_fault(std::string_view line) {
    const std::size_t n = std::min(line.size(), line_columns);
    for (std::size_t c = 0; c < n; ++c) {
        if (!admits(rules[c], at(line, c)))
            return NumberColumnFault{c, at(line, c), expected_text(rules[c])};
    }
    return std::nullopt;
}

std::string describe(const NumberColumnFault& fault) {
    return join({"column ", std::to_string(fault.column), " holds ", show_byte(fault.byte),
                 " where ", fault.expected, " belongs"});
}

std::optional<std::string> find_line_refusal(std::string_view line) {
    if (line.empty()) return "the line is empty";
    if (line.front() == '\0') return "the line begins with a NUL byte";
    if (line.size() > max_line_length) {
        return join({"the line is ", std::to_string(line.size()), " characters long, over ",
                     std::to_string(max_line_length)});
    }
    if (const auto fault = find_number_column_fault(line)) return describe(*fault);
    return std::nullopt;
}

std::uint32_t plu_number_of_line(std::string_view line) {
    const PluField& f = plu_fields.front();
    std::uint32_t v = 0;
    for (std::size_t c = f.column; c < f.column + field_width(f); ++c) {
        v = v * 10 + (c < line.size() ? static_cast<std::uint32_t>(at(line, c) - '0') : 0u);
    }
    return v;
}

std::optional<std::uint8_t> byte65_changed(std::string_view line) {
    const auto digit = [&](std::size_t c) { return c < line.size() ? at(line, c) - '0' : 0; };
    const int tens = digit(byte65_column), units = digit(byte65_column + 1);
    if (tens == 0) return std::nullopt;
    return static_cast<std::uint8_t>(16 * tens + units);
}

std::optional<std::size_t> find_utf8_in_name(std::string_view line) {
    if (line.size() <= name_column) return std::nullopt;
    const std::string_view name = line.substr(name_column, name_length);
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < name.size();) {
        // The field's end may cut the last letter.
        const std::size_t length = utf8_sequence_length(name, i, true);
        if (length == 0) return std::nullopt;
        const bool whole = length > 1 && utf8_sequence_length(name, i) == length;
        if (whole && !first) first = name_column + i;
        i += length;
    }
    return first;
}

}  // namespace ktnet
