// A PLU name as text a spreadsheet keeps unchanged. The name's bytes are in the scales' code
// page; the text is UTF-8. A byte whose character is invisible or easily lost in editing (control
// bytes, bytes the code page leaves undefined, no-break and soft-hyphen spaces) is written \xHH,
// and the backslash itself \\, so that every name comes back byte for byte. Trailing spaces are
// left out: a name is always filled up with spaces to its 24 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/code_page.hpp"
#include "plu/field_table.hpp"

namespace ktnet {

using NameBytes = std::array<std::uint8_t, name_length>;

std::string name_to_text(std::span<const std::uint8_t> name, const CodePage& code_page);

// The name's bytes, filled up with spaces; the reason instead when the text
// is not UTF-8, holds a character the code page lacks or a malformed escape, takes more than 24
// bytes, or holds a byte no PLU file can keep in a name (LF splits the line, 0x1A ends the file).
[[nodiscard]] Result<NameBytes, std::string> text_to_name(std::string_view text,
                                                          const CodePage& code_page);

// UTF-8 of one character.
void append_utf8(std::string& out, char32_t c);

}  // namespace ktnet
