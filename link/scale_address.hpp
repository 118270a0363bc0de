// Where a scale sits on the bus: a controller channel (1-4), section ('S') or terminal ('T'),
// and its number (1-9). Written "1S1" in short, as the first columns of a PLU line show it.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ktnet {

inline constexpr std::uint8_t section_bit = 0x80;  // set in the address byte of a section

class ScaleAddress {
public:
    // Nothing unless channel is 1-4, kind 'S' or 'T' (either case) and number 1-9.
    [[nodiscard]] static std::optional<ScaleAddress> make(unsigned channel, char kind,
                                                          unsigned number);
    // The scale a frame's address byte names on the channel a route byte (0-3) leads to.
    [[nodiscard]] static std::optional<ScaleAddress> from_route(std::uint8_t route,
                                                                std::uint8_t address_byte);
    // "1S1", "2t3": one digit, one letter, one digit, nothing else.
    [[nodiscard]] static std::optional<ScaleAddress> parse(std::string_view text);

    std::uint8_t channel() const { return channel_; }
    char kind() const { return kind_; }
    std::uint8_t number() const { return number_; }
    bool is_section() const { return kind_ == 'S'; }

    // The route byte of the reports for this scale: its channel minus 1.
    std::uint8_t route() const { return static_cast<std::uint8_t>(channel_ - 1); }
    // The number, with the section bit for a section.
    std::uint8_t address_byte() const {
        return is_section() ? static_cast<std::uint8_t>(number_ | section_bit) : number_;
    }
    // "1S1".
    std::string text() const;

    friend auto operator<=>(const ScaleAddress&, const ScaleAddress&) = default;

private:
    ScaleAddress(std::uint8_t channel, char kind, std::uint8_t number)
        : channel_(channel), kind_(kind), number_(number) {}

    std::uint8_t channel_;
    char kind_;
    std::uint8_t number_;
};

}  // namespace ktnet
