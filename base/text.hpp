// Small text helpers every layer uses: blanks trimmed, bytes shown in messages, UTF-8 told
// apart from other bytes, and text from outside made safe to show on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ktnet {

// Without the blanks (by default spaces, tabs and CRs) at either end.
std::string_view trimmed(std::string_view text, std::string_view blanks = " \t\r");

// Equal but for the case of ASCII letters.
bool same_word(std::string_view a, std::string_view b);
// The text with its ASCII letters in lower case.
std::string ascii_lower(std::string_view text);

// A byte in hexadecimal: 0x42.
std::string hex_byte(std::uint8_t b);
// A byte as messages show it: 'A' for printable ASCII, 0xC5 otherwise.
std::string show_byte(std::uint8_t b);

// The pieces of a message in one string. (Chains of std::string's operator+ on temporaries
// trip a false -Wrestrict warning of GCC 12.)
std::string join(std::initializer_list<std::string_view> pieces);

// The length of the well-formed UTF-8 sequence that starts at text[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when none does.
// With cut_allowed, a sequence that is well formed as far as the text goes counts too, with the
// bytes the text holds of it.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i, bool cut_allowed = false);
bool valid_utf8(std::string_view text);

// "YYYY-MM-DD": four digits, a dash, two digits, a dash, two digits.
bool is_iso_date(std::string_view text);

// The length of a letter of an alphabet beyond ASCII, well formed in UTF-8, at text[i]: anything
// from U+00C0 on but the signs, spaces and marks that are no letters (x and / signs, general
// punctuation, the ideographic space, the byte order mark); 0 when there is none.
std::size_t letter_beyond_ascii(std::string_view text, std::size_t i);

// UTF-8 text kept as it is; every control byte (an escape sequence would act on the terminal),
// every C1 control and every byte that is no part of valid UTF-8 shown as \xHH.
std::string printable(std::string_view text);

}  // namespace ktnet
