#include "formats/name_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace ktnet {

namespace {

constexpr char32_t backslash = '\\';

// Characters a spreadsheet or editor may drop, change or hide.
bool invisible(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xA0 || c == 0xAD ||
           (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || c == 0xFEFF;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The next character of UTF-8 text, advancing pos; nothing when the text is not well-formed.
std::optional<char32_t> next_utf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t b = byte(pos);
    std::size_t length = 0;
    char32_t c = 0, least = 0;
    if (b < 0x80) {
        ++pos;
        return b;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, c = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, c = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, c = b & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(pos + k) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(pos + k) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    pos += length;
    return c;
}

std::string quoted(char32_t c) {
    std::string s = "'";
    append_utf8(s, c);
    return s + "'";
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
    const auto put = [&](char32_t v) { out.push_back(static_cast<char>(v)); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | (c >> 6)), put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | (c >> 12)), put(0x80 | ((c >> 6) & 0x3F)), put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | (c >> 18)), put(0x80 | ((c >> 12) & 0x3F)), put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

std::string name_to_text(std::span<const std::uint8_t> name, const CodePage& code_page) {
    std::size_t length = name.size();
    while (length > 0 && name[length - 1] == ' ') --length;
    std::string text;
    for (const std::uint8_t b : name.first(length)) {
        const auto c = code_page.character(b);
        if (c && *c == backslash) {
            text += "\\\\";
        } else if (c && !invisible(*c)) {
            append_utf8(text, *c);
        } else {
            text += fmt::format("\\x{:02X}", b);
        }
    }
    return text;
}

Result<NameBytes, std::string> text_to_name(std::string_view text, const CodePage& code_page) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto c = next_utf8(text, pos);
        if (!c) {
            return unexpected(std::string("the text is not UTF-8"));
        }
        if (*c == backslash) {
            if (pos < text.size() && text[pos] == '\\') {
                ++pos;
            } else if (pos + 3 <= text.size() && text[pos] == 'x' &&
                       hex_value(text[pos + 1]) >= 0 && hex_value(text[pos + 2]) >= 0) {
                bytes.push_back(static_cast<std::uint8_t>(16 * hex_value(text[pos + 1]) +
                                                          hex_value(text[pos + 2])));
                pos += 3;
                continue;
            } else {
                return unexpected(std::string(
                    "a backslash must begin \\\\ (a backslash) or \\xHH (a byte in hexadecimal)"));
            }
        }
        const auto b = code_page.byte(*c);
        if (!b) {
            return unexpected(std::string(
                fmt::format("{} cannot be written in {}", quoted(*c), code_page.label())));
        }
        bytes.push_back(*b);
    }
    for (const std::uint8_t b : bytes) {
        if (b == '\n') {
            return unexpected(
                std::string("a name cannot hold a line feed (\\x0A): it would split the line"));
        }
        if (b == 0x1A) {
            return unexpected(
                std::string("a name cannot hold the byte \\x1A: it would end the file"));
        }
    }
    if (bytes.size() > name_length) {
        return unexpected(std::string(fmt::format("the name takes {} bytes in {}, more than 24",
                                                  bytes.size(), code_page.label())));
    }
    NameBytes name;
    name.fill(' ');
    std::copy(bytes.begin(), bytes.end(), name.begin());
    return name;
}

}  // namespace ktnet
