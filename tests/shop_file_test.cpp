// Scales on the command line: addresses, lists, ranges, names and "all"; the shop file, and the
// fields file beside it.
#include "shop/shop_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "formats/field_names.hpp"
#include "shop/fields_file.hpp"

namespace ktnet {
namespace {

// As Notepad saves it: a byte order mark first.
constexpr std::string_view shop_text =
    "\xEF\xBB\xBF# our shop\n"
    "1S1 deli\r\n"
    "1S2   bakery\n"
    "\n"
    "2T3 Fish.Counter\n"
    "2S9\n"
    "3T1 wędliny\n";

struct SelectCase {
    const char* text;
    const char* expected;  // the scales, "1S1 1S2"; or the start of the error
    bool ok;
};

class SelectScales : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectScales, ChoosesTheScalesOrSaysWhyNot) {
    const auto& c = GetParam();
    const auto shop = parse_shop(shop_text);
    ASSERT_TRUE(shop) << shop.error();
    const auto got = select_scales(c.text, *shop);
    if (!c.ok) {
        ASSERT_FALSE(got);
        EXPECT_TRUE(got.error().starts_with(c.expected)) << got.error();
        return;
    }
    ASSERT_TRUE(got) << got.error();
    std::string text;
    for (const ScaleAddress& a : *got) {
        if (!text.empty()) text += ' ';
        text += a.text();
    }
    EXPECT_EQ(text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectScales,
    ::testing::Values(
        SelectCase{"1S1", "1S1", true}, SelectCase{"4t9", "4T9", true},
        SelectCase{"1S1,1S2", "1S1 1S2", true}, SelectCase{" 1S1 , 2T3 ", "1S1 2T3", true},
        SelectCase{"1S1-3", "1S1 1S2 1S3", true}, SelectCase{"2T8-2T9", "2T8 2T9", true},
        SelectCase{"3S5-5", "3S5", true}, SelectCase{"deli", "1S1", true},
        SelectCase{"DELI,fish.counter", "1S1 2T3", true},
        SelectCase{"all", "1S1 1S2 2T3 2S9 3T1", true},
        SelectCase{"1S2,all,1S1", "1S2 1S1 2T3 2S9 3T1", true}, SelectCase{"Wędliny", "3T1", true},
        SelectCase{"1S1,deli,1S1-2", "1S1 1S2", true},
        SelectCase{"5S1", "\"5S1\" is neither", false},
        SelectCase{"1X1", "\"1X1\" is neither", false},
        SelectCase{"1S0", "\"1S0\" is neither", false},
        SelectCase{"1S10", "\"1S10\" is neither", false},
        SelectCase{"1S3-1", "the range 1S3-1 runs downwards", false},
        SelectCase{"1S1-0", "the range 1S1-0 must end", false},
        SelectCase{"1S1-12", "the range 1S1-12 must end", false},
        SelectCase{"1S1-2T3", "the range 1S1-2T3 must stay", false},
        SelectCase{"1S1-", "the range 1S1- must end", false},
        SelectCase{"1S1,,1S2", "an empty item", false}, SelectCase{"", "an empty item", false},
        SelectCase{"butcher", "\"butcher\" is neither", false}));

// A source that may be a file or a scale is a scale only when it is an address or a name.
TEST(SingleScale, IsAnAddressOrAName) {
    const auto shop = parse_shop("1S1 deli\n2T3 fish-counter\n");
    ASSERT_TRUE(shop) << shop.error();
    const std::pair<const char*, const char*> cases[] = {
        {"1S2", "1S2"},  {"deli", "1S1"}, {"Fish-Counter", "2T3"},
        {"1S1,1S2", ""}, {"1S1-1", ""},   {"plu.txt", ""},
        {"./1S1", ""},   {"all", ""},     {"fish", ""}};
    for (const auto& [text, expected] : cases) {
        const auto got = single_scale(text, *shop);
        EXPECT_EQ(got ? got->text() : "", expected) << text;
    }
}

TEST(SelectScalesWithoutShop, AllNeedsAShopFile) {
    EXPECT_TRUE(select_scales("all", Shop{}).error().starts_with("\"all\" needs a shop file"));
}

struct ShopCase {
    const char* text;
    const char* error;  // the start of it
};

class BadShopFile : public ::testing::TestWithParam<ShopCase> {};

TEST_P(BadShopFile, SaysWhichLine) {
    const auto got = parse_shop(GetParam().text);
    ASSERT_FALSE(got);
    EXPECT_TRUE(got.error().starts_with(GetParam().error)) << got.error();
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadShopFile,
    ::testing::Values(ShopCase{"1S1 deli\n9S1 x\n", "line 2: \"9S1\" is not a scale address"},
                      ShopCase{"1S1 deli\n1S1 cheese\n", "line 2: 1S1 is listed twice"},
                      ShopCase{"1S1 deli\n1S2 Deli\n", "line 2: the name \"Deli\" is given"},
                      ShopCase{"1S1 my deli\n", "line 1: the name \"my deli\" must be"},
                      ShopCase{"1S1 2T3\n", "line 1: the name \"2T3\" must be"},
                      ShopCase{"1S1 all\n", "line 1: the name \"all\" must be"},
                      ShopCase{"1S1 1S2-4\n", "line 1: the name \"1S2-4\" must be"},
                      ShopCase{"1S1 a,b\n", "line 1: the name \"a,b\" must be"},
                      ShopCase{"1S1 a\xC2\xA0"
                               "b\n",
                               "line 1: the name"},
                      ShopCase{"1S1 a–b\n", "line 1: the name"},
                      ShopCase{"1S1 a\xC4\n", "line 1: the name"}));

TEST(FieldsFile, NamesFieldsAndTheirDecimals) {
    const auto names = FieldNames::parse(
        "\xEF\xBB\xBF# from the scale's manual\r\nprice = c41_46, 2 decimals\nean=C121_134\n"
        "waga_tara = c84\nilo\xC5\x9B\xC4\x87 = c86\n");
    ASSERT_TRUE(names) << names.error();
    const std::size_t price = *names->find("PRICE");
    EXPECT_EQ(column_name(price), "c41_46");
    EXPECT_EQ(names->find("c41_46"), price);
    EXPECT_EQ(names->shown(price), "price (c41_46)");
    EXPECT_EQ(names->decimals(price), 2u);
    EXPECT_EQ(names->decimals(*names->find("ean")), 0u);
    EXPECT_EQ(names->shown(*names->find("c50_55")), "c50_55");
    EXPECT_EQ(names->closest("pricee"), "price");
    EXPECT_EQ(names->find("ilo\xC5\x9B\xC4\x87"), names->find("c86"));
}

TEST(FieldsFile, OneChosenByTheEnvironmentMustBeThere) {
    ::setenv("KTNET_FIELDS", "/nonexistent/fields", 1);
    const auto got = load_fields("", Shop{});
    ::unsetenv("KTNET_FIELDS");
    ASSERT_FALSE(got);
    EXPECT_NE(got.error().find("/nonexistent/fields"), std::string::npos) << got.error();
}

class BadFieldsFile : public ::testing::TestWithParam<ShopCase> {};

TEST_P(BadFieldsFile, SaysWhichLine) {
    const auto got = FieldNames::parse(GetParam().text);
    ASSERT_FALSE(got);
    EXPECT_TRUE(got.error().starts_with(GetParam().error)) << got.error();
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadFieldsFile,
    ::testing::Values(ShopCase{"price c41_46\n", "line 1: a line is NAME = COLUMNS"},
                      ShopCase{"price = c41_47\n", "line 1: \"c41_47\" is not the columns"},
                      ShopCase{"label = name\n", "line 1: \"name\" is not the columns"},
                      ShopCase{"c84 = c41_46\n", "line 1: \"c84\" is the columns of a field"},
                      ShopCase{"my price = c41_46\n", "line 1: \"my price\" is not a name"},
                      ShopCase{"a = c84\nA = c86\n", "line 2: the name \"A\" is given twice"},
                      ShopCase{"a = c84\nb = c84\n", "line 2: c84 is named twice"},
                      ShopCase{"a = c41_46, 6 decimals\n", "line 1: c41_46 has 6 digits"},
                      ShopCase{"a = c41_46, two decimals\n", "line 1: \"two decimals\": write"}));

}  // namespace
}  // namespace ktnet
