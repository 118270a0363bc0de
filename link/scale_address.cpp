#include "scale_address.hpp"

namespace ktnet {

namespace {

constexpr char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::optional<ScaleAddress> ScaleAddress::make(unsigned channel, char kind, unsigned number) {
    kind = upper(kind);
    if (channel < 1 || channel > 4 || number < 1 || number > 9) return std::nullopt;
    if (kind != 'S' && kind != 'T') return std::nullopt;
    return ScaleAddress(static_cast<std::uint8_t>(channel), kind,
                        static_cast<std::uint8_t>(number));
}

std::optional<ScaleAddress> ScaleAddress::from_route(std::uint8_t route,
                                                     std::uint8_t address_byte) {
    const bool section = (address_byte & section_bit) != 0;
    return make(route + 1u, section ? 'S' : 'T',
                address_byte & static_cast<unsigned>(~section_bit));
}

std::optional<ScaleAddress> ScaleAddress::parse(std::string_view text) {
    if (text.size() != 3) return std::nullopt;
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? unsigned(c - '0') : 99u; };
    return make(digit(text[0]), text[1], digit(text[2]));
}

std::string ScaleAddress::text() const {
    return {static_cast<char>('0' + channel_), kind_, static_cast<char>('0' + number_)};
}

}  // namespace ktnet
