#include "formats/code_page.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace ktnet {

namespace {

std::string lower(std::string_view text) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<unsigned> number_of(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

}  // namespace

std::optional<CodePageName> parse_code_page_name(std::string_view text) {
    std::string s = lower(text);
    for (const std::string_view iso : {"iso-8859-", "iso8859-", "iso_8859-"}) {
        if (s.starts_with(iso)) {
            const auto part = number_of(std::string_view(s).substr(iso.size()));
            if (!part || *part < 1 || *part > 16) return std::nullopt;
            const std::string n = std::to_string(*part);
            return CodePageName{28590 + *part, "ISO-8859-" + n, "ISO-8859-" + n};
        }
    }
    for (const std::string_view prefix : {"windows-", "cp", "ibm"}) {
        if (s.starts_with(prefix)) {
            s.erase(0, prefix.size());
            break;
        }
    }
    const auto n = number_of(s);
    if (!n || *n == 0) return std::nullopt;
    const std::string digits = std::to_string(*n);
    const bool windows = *n >= 1250 && *n <= 1258;
    return CodePageName{*n, "CP" + digits, (windows ? "Windows-" : "CP") + digits};
}

Result<CodePage, std::string> CodePage::open(std::string_view text) {
    const auto name = parse_code_page_name(text);
    if (!name)
        return unexpected(
            fmt::format("'{}' is not a code page name (for example 1250 or cp852)", text));
    auto characters = decode_each_byte(*name);
    if (!characters) return unexpected(std::move(characters.error()));
    return CodePage(name->label, *characters);
}

CodePage::CodePage(std::string label, const ByteCharacters& characters)
    : label_(std::move(label)), characters_(characters) {
    for (std::size_t b = 0; b < characters_.size(); ++b) {
        if (characters_[b] != no_character)
            bytes_.emplace_back(characters_[b], static_cast<std::uint8_t>(b));
    }
    std::sort(bytes_.begin(), bytes_.end());
    // A character two bytes share would not convert back to both: neither keeps it.
    for (std::size_t i = 1; i < bytes_.size(); ++i) {
        if (bytes_[i].first == bytes_[i - 1].first) {
            characters_[bytes_[i].second] = characters_[bytes_[i - 1].second] = no_character;
        }
    }
    std::erase_if(bytes_, [&](const auto& e) { return characters_[e.second] == no_character; });
}

std::optional<char32_t> CodePage::character(std::uint8_t b) const {
    if (characters_[b] == no_character) return std::nullopt;
    return characters_[b];
}

std::optional<std::uint8_t> CodePage::byte(char32_t c) const {
    const auto it =
        std::lower_bound(bytes_.begin(), bytes_.end(), std::make_pair(c, std::uint8_t{0}));
    if (it == bytes_.end() || it->first != c) return std::nullopt;
    return it->second;
}

}  // namespace ktnet
