// Code pages through the C library's iconv (glibc on Linux).
#include <iconv.h>

#include <cerrno>
#include <utility>

#include "formats/code_page.hpp"

namespace ktnet {

namespace {

// One iconv conversion descriptor, closed with its owner.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the input whole, from the initial state; the output bytes, or the errno.
    std::pair<std::string, int> convert(std::string input) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string output(16, '\0');
        char* in = input.data();
        std::size_t in_left = input.size();
        char* out = output.data();
        std::size_t out_left = output.size();
        const std::size_t done = iconv(cd_, &in, &in_left, &out, &out_left);
        if (done == static_cast<std::size_t>(-1)) return {{}, errno};
        // Whatever a stateful converter still holds.
        if (iconv(cd_, nullptr, nullptr, &out, &out_left) == static_cast<std::size_t>(-1))
            return {{}, errno};
        output.resize(output.size() - out_left);
        return {output, 0};
    }

private:
    iconv_t cd_;
};

char32_t from_utf32le(const std::string& s) {
    char32_t c = 0;
    for (std::size_t i = 4; i-- > 0;) c = (c << 8) | static_cast<unsigned char>(s[i]);
    return c;
}

std::string to_utf32le(char32_t c) {
    std::string s(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) s[i] = static_cast<char>((c >> (8 * i)) & 0xFF);
    return s;
}

}  // namespace

Result<ByteCharacters, std::string> decode_each_byte(const CodePageName& name) {
    const char* code_page = name.iconv_name.c_str();
    Converter decode("UTF-32LE", code_page);
    Converter encode(code_page, "UTF-32LE");
    if (!decode.valid() || !encode.valid()) {
        return unexpected("this system has no code page " + name.label);
    }
    ByteCharacters characters;
    for (unsigned b = 0; b < characters.size(); ++b) {
        characters[b] = no_character;
        const std::string byte(1, static_cast<char>(b));
        const auto [text, failure] = decode.convert(byte);
        if (failure == EILSEQ) continue;  // a byte the code page leaves undefined
        if (failure != 0 || text.size() != 4) {
            return unexpected(name.label + " is not a single-byte code page");
        }
        const char32_t c = from_utf32le(text);
        if (encode.convert(to_utf32le(c)).first == byte) characters[b] = c;
    }
    return characters;
}

}  // namespace ktnet
