#include "link/scale_address.hpp"

#include <gtest/gtest.h>

namespace ktnet {
namespace {

struct AddressCase {
    const char* text;
    bool valid;
    std::uint8_t route;
    std::uint8_t address_byte;
    const char* shown;
};

class ScaleAddressText : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ScaleAddressText, ParsesRoutesAndShows) {
    const AddressCase& c = GetParam();
    const auto a = ScaleAddress::parse(c.text);
    ASSERT_EQ(a.has_value(), c.valid);
    if (!a) return;
    EXPECT_EQ(a->route(), c.route);
    EXPECT_EQ(a->address_byte(), c.address_byte);
    EXPECT_EQ(a->text(), c.shown);
    EXPECT_EQ(ScaleAddress::from_route(a->route(), a->address_byte()), a);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, ScaleAddressText,
    ::testing::Values(AddressCase{"1S1", true, 0, 0x81, "1S1"},
                      AddressCase{"4t9", true, 3, 0x09, "4T9"},
                      AddressCase{"2T3", true, 1, 0x03, "2T3"}, AddressCase{"0S1", false, 0, 0, ""},
                      AddressCase{"5S1", false, 0, 0, ""}, AddressCase{"1S0", false, 0, 0, ""},
                      AddressCase{"1X1", false, 0, 0, ""}, AddressCase{"1S10", false, 0, 0, ""},
                      AddressCase{"1S", false, 0, 0, ""}, AddressCase{"", false, 0, 0, ""}),
    [](const auto& p) {
        return std::string(p.param.valid ? "" : "bad_") + std::to_string(p.index);
    });

TEST(ScaleAddressRoute, AddressBytesOutsideOneToNineNameNoScale) {
    for (const unsigned byte : {0x00u, 0x0Au, 0x80u, 0x8Au, 0xFFu}) {
        EXPECT_FALSE(ScaleAddress::from_route(0, static_cast<std::uint8_t>(byte))) << byte;
    }
    EXPECT_FALSE(ScaleAddress::from_route(4, 0x81));
}

}  // namespace
}  // namespace ktnet
