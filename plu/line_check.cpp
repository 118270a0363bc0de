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

// The length of a UTF-8 sequence its lead byte announces, and the range its second byte must
// fall in (which excludes overlong forms and surrogates); 0 for a byte that cannot lead one.
struct Utf8Lead {
    std::size_t length;
    std::uint8_t second_low;
    std::uint8_t second_high;
};
constexpr Utf8Lead utf8_lead(std::uint8_t b) {
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    if (b < 0x80) return 1;
    const Utf8Lead lead = utf8_lead(b);
    if (lead.length == 0 || i + lead.length > text.size()) return 0;
    for (std::size_t k = 1; k < lead.length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[i + k]);
        const bool fits = k == 1 ? (next >= lead.second_low && next <= lead.second_high)
                                 : (next >= 0x80 && next <= 0xBF);
        if (!fits) return 0;
    }
    return lead.length;
}

std::optional<NumberColumnFault> find_number_column_fault(std::string_view line) {
    const std::size_t n = std::min(line.size(), line_columns);
    for (std::size_t c = 0; c < n; ++c) {
        if (!admits(rules[c], at(line, c)))
            return NumberColumnFault{c, at(line, c), expected_text(rules[c])};
    }
    return std::nullopt;
}

std::string hex_byte(std::uint8_t b) {
    constexpr std::string_view hex = "0123456789ABCDEF";
    return {'0', 'x', hex[b >> 4], hex[b & 0x0F]};
}

std::string show_byte(std::uint8_t b) {
    if (b >= 0x20 && b < 0x7F) return {'\'', static_cast<char>(b), '\''};
    return hex_byte(b);
}

std::string join(std::initializer_list<std::string_view> pieces) {
    std::string s;
    for (const std::string_view piece : pieces) s += piece;
    return s;
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
        const auto b = static_cast<std::uint8_t>(name[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const Utf8Lead lead = utf8_lead(b);
        if (lead.length == 0) return std::nullopt;
        const std::size_t available = std::min(lead.length, name.size() - i);
        for (std::size_t k = 1; k < available; ++k) {
            const auto next = static_cast<std::uint8_t>(name[i + k]);
            const bool fits = k == 1 ? (next >= lead.second_low && next <= lead.second_high)
                                     : (next >= 0x80 && next <= 0xBF);
            if (!fits) return std::nullopt;
        }
        if (available == lead.length && !first) first = name_column + i;
        i += available;
    }
    return first;
}

}  // namespace ktnet
