// The scales' single-byte code page, which names are stored in, and its characters as Unicode.
// The characters come from the platform's converter (iconv, or Windows' code page functions),
// never from tables of our own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace ktnet {

// The character of each byte alone, or no_character where the code page has none, or where
// the character would not convert back to that same byte.
inline constexpr char32_t no_character = 0xFFFFFFFF;
using ByteCharacters = std::array<char32_t, 256>;

// A code page as each platform names it.
struct CodePageName {
    unsigned windows_number;  // 1250, 852, 28592 ...
    std::string iconv_name;   // "CP1250", "ISO-8859-2" ...
    std::string label;        // "Windows-1250", for messages
};

// "1250", "cp1250", "windows-1250", "CP852", "ibm852", "iso-8859-2" (any case).
[[nodiscard]] std::optional<CodePageName> parse_code_page_name(std::string_view text);

// The platform's part: each byte alone through its converter, and back. Fails, with the reason
// for a code page the platform does not have or one that is not single-byte.
[[nodiscard]] Result<ByteCharacters, std::string> decode_each_byte(const CodePageName& name);

class CodePage {
public:
    // The code page named by text, e.g. "1250", or why there is none.
    [[nodiscard]] static Result<CodePage, std::string> open(std::string_view text);
    // A code page whose characters are already known.
    CodePage(std::string label, const ByteCharacters& characters);

    const std::string& label() const { return label_; }
    // The character a byte stands for, when it has one.
    [[nodiscard]] std::optional<char32_t> character(std::uint8_t b) const;
    // The byte that stands for a character, when there is one.
    [[nodiscard]] std::optional<std::uint8_t> byte(char32_t c) const;

private:
    std::string label_;
    ByteCharacters characters_;
    std::vector<std::pair<char32_t, std::uint8_t>> bytes_;  // sorted by character
};

}  // namespace ktnet
