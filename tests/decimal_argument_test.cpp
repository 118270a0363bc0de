#include "cli/decimal_argument.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "cli/scale_arguments.hpp"

namespace ktnet {
namespace {

struct DecimalCase {
    std::string_view text;
    std::optional<std::int64_t> value;
};

class Decimal : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(Decimal, ConvertsLikeTheCLibraryButNeverWraps) {
    EXPECT_EQ(parse_decimal(GetParam().text), GetParam().value) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Arguments, Decimal,
                         ::testing::Values(DecimalCase{"5", 5}, DecimalCase{"  \t12", 12},
                                           DecimalCase{"+7", 7}, DecimalCase{"-1", -1},
                                           DecimalCase{"12abc", 12}, DecimalCase{"abc", 0},
                                           DecimalCase{"", 0}, DecimalCase{"-", 0},
                                           DecimalCase{"+-3", 0}, DecimalCase{" 0009", 9},
                                           DecimalCase{"4294967295", 4294967295},
                                           DecimalCase{"4294967296", std::nullopt},
                                           DecimalCase{"4294967297", std::nullopt},
                                           DecimalCase{"-4294967295", -4294967295},
                                           DecimalCase{"99999999999999999999999", std::nullopt}));

TEST(Decimal, NegativeCountsAsVeryLarge) {
    EXPECT_EQ(as_unsigned32(-1), 4294967295u);
    EXPECT_EQ(as_unsigned32(-10000), 4294957296u);
}

struct ArgumentsCase {
    std::vector<std::string_view> args;
    bool valid;
};

class ScaleArgumentChecks : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(ScaleArgumentChecks, WholeValuesAreChecked) {
    EXPECT_EQ(parse_scale_arguments(GetParam().args).has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ScaleArgumentChecks,
    ::testing::Values(ArgumentsCase{{"1", "S", "1", "1", "999", "f"}, true},
                      ArgumentsCase{{"4", "t", "9", "0", "0", "f"}, true},
                      ArgumentsCase{{"1", "sekcja", "1", "1", "2", "f"}, true},
                      ArgumentsCase{{"0", "S", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"5", "S", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"257", "S", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"4294967297", "S", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"-1", "S", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "X", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "", "1", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "10", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "0", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "265", "1", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "1", "4294967296", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "1", "1", "4294967296", "f"}, false},
                      // A negative first or last is a very large number, never one that
                      // wraps round into range.
                      ArgumentsCase{{"1", "S", "1", "-4294967295", "2", "f"}, false},
                      ArgumentsCase{{"1", "S", "1", "1", "-2147487231", "f"}, false},
                      ArgumentsCase{{"1", "S", "1", "1", "-2147483649", "f"}, false},
                      ArgumentsCase{{"1", "S", "1", "1", "-2147483648", "f"}, true},
                      ArgumentsCase{{"1", "S", "1", "1", "2"}, false},
                      ArgumentsCase{{"1", "S", "1", "1", "2", "f", "g"}, false}));

TEST(ScaleArgumentChecks, NegativeBoundsBecomeVeryLarge) {
    const std::vector<std::string_view> args = {"1", "S", "1", "-1", "-2147483648", "f"};
    const auto a = parse_scale_arguments(args);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->first, 4294967295u);
    EXPECT_EQ(a->last, 2147483648u);
}

TEST(ScaleArgumentChecks, LetterOfEitherCaseNamesTheScale) {
    const std::vector<std::string_view> section = {"3", "s", "7", "1", "2", "f"};
    const auto a = parse_scale_arguments(section);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->scale.text(), "3S7");
}

}  // namespace
}  // namespace ktnet
