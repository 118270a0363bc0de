#include "text.hpp"

#include <algorithm>
#include <cstdio>

namespace ktnet {

namespace {

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

std::string_view trimmed(std::string_view text, std::string_view blanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

namespace {
char lower(char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}
}  // namespace

bool same_word(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

std::size_t letter_beyond_ascii(std::string_view text, std::size_t i) {
    const std::size_t length = utf8_sequence_length(text, i);
    if (length < 2) return 0;
    const auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(text[i + k]) & 0xFFu; };
    std::uint32_t c = length == 2 ? b(0) & 0x1F : length == 3 ? b(0) & 0x0F : b(0) & 0x07;
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (b(k) & 0x3F);
    if (c < 0xC0 || c == 0xD7 || c == 0xF7) return 0;
    if ((c >= 0x2000 && c <= 0x206F) || c == 0x3000 || c == 0xFEFF) return 0;
    return length;
}

std::string hex_byte(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
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

std::size_t utf8_sequence_length(std::string_view text, std::size_t i, bool cut_allowed) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    if (b < 0x80) return 1;
    const Utf8Lead lead = utf8_lead(b);
    if (lead.length == 0) return 0;
    const std::size_t available = std::min(lead.length, text.size() - i);
    if (available < lead.length && !cut_allowed) return 0;
    for (std::size_t k = 1; k < available; ++k) {
        const auto next = static_cast<std::uint8_t>(text[i + k]);
        const bool fits = k == 1 ? (next >= lead.second_low && next <= lead.second_high)
                                 : (next >= 0x80 && next <= 0xBF);
        if (!fits) return 0;
    }
    return available;
}

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        const std::size_t n = utf8_sequence_length(text, i);
        // U+0080 to U+009F (C2 80 to C2 9F) act on some terminals as well.
        const bool c1 = n == 2 && b == 0xC2 && static_cast<std::uint8_t>(text[i + 1]) < 0xA0;
        if (n == 0 || c1 || b < 0x20 || b == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

bool is_iso_date(std::string_view text) {
    if (text.size() != 10) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return false;
    }
    return true;
}

}  // namespace ktnet
