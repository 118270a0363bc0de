// Code pages through Windows' own conversion functions.
#include <windows.h>

#include "formats/code_page.hpp"

namespace ktnet {

Result<ByteCharacters, std::string> decode_each_byte(const CodePageName& name) {
    const UINT code_page = name.windows_number;
    CPINFO info{};
    if (!IsValidCodePage(code_page) || !GetCPInfo(code_page, &info)) {
        return unexpected("this system has no code page " + name.label);
    }
    if (info.MaxCharSize != 1) {
        return unexpected(name.label + " is not a single-byte code page");
    }
    ByteCharacters characters;
    for (unsigned b = 0; b < characters.size(); ++b) {
        characters[b] = no_character;
        const char byte = static_cast<char>(b);
        wchar_t wide[2] = {};
        if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, &byte, 1, wide, 2) != 1) continue;
        if (wide[0] >= 0xD800 && wide[0] <= 0xDFFF) continue;
        char back[2] = {};
        BOOL defaulted = FALSE;
        const int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, 1, back, 2,
                                          nullptr, &defaulted);
        if (n == 1 && !defaulted && back[0] == byte) characters[b] = static_cast<char32_t>(wide[0]);
    }
    return characters;
}

}  // namespace ktnet
