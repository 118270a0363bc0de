#include "plu/line_check.hpp"

#include <gtest/gtest.h>

#include <random>

#include "plu/plu_line.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

constexpr std::string_view reader_line =
    "3 T 07 xx012345 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 12 "
    "7 7 42 42 121212 121212 12 42 12121212121212 12 7";

std::string with(std::size_t column, std::string_view text) {
    std::string line(reader_line);
    line.replace(column, text.size(), text);
    return line;
}

struct RuleCase {
    const char* what;
    std::string line;
    const char* fault;  // nullptr: accepted
};

class LoadableLine : public ::testing::TestWithParam<RuleCase> {};

TEST_P(LoadableLine, RefusesOnlyWhatTheReaderNeverWrites) {
    const auto refusal = find_line_refusal(GetParam().line);
    if (GetParam().fault == nullptr) {
        EXPECT_FALSE(refusal) << *refusal;
    } else {
        ASSERT_TRUE(refusal);
        EXPECT_EQ(*refusal, GetParam().fault);
    }
}

// A name typed as UTF-8 "Ł" (two bytes) shifts the rest of its line by one column.
std::string shifted_by_utf8() {
    std::string line(reader_line);
    line.replace(16, 1, "\xC5\x81");
    return line;
}

INSTANTIATE_TEST_SUITE_P(
    LineCheck, LoadableLine,
    ::testing::Values(
        RuleCase{"empty line", "", "the line is empty"},
        RuleCase{"NUL first", std::string(1, '\0') + "S 01", "the line begins with a NUL byte"},
        RuleCase{"143 characters", std::string(reader_line) + "ZZZ",
                 "the line is 143 characters long, over 142"},
        RuleCase{"reader line with its CR", std::string(reader_line) + "\r", nullptr},
        RuleCase{"short line", "1 S 01 xx000042 BREAD", nullptr},
        RuleCase{"space in a BCD column", with(41, " "),
                 "column 41 holds ' ' where a digit belongs"},
        RuleCase{"letter in the PLU", with(9, "A"), "column 9 holds 'A' where a digit belongs"},
        RuleCase{"high byte in the PLU", with(12, "\xC5"),
                 "column 12 holds 0xC5 where a digit belongs"},
        RuleCase{"BCD nibble 15", with(41, "?"), nullptr},
        RuleCase{"BCD one past 15", with(134, "@"), "column 134 holds '@' where a digit belongs"},
        RuleCase{"Decimal tens 25", with(95, "I5"), nullptr},
        RuleCase{"Decimal tens 26", with(98, "J"),
                 "column 98 holds 'J' where a digit or a letter A to I belongs"},
        RuleCase{"Decimal units 10", with(96, ":"), "column 96 holds ':' where a digit belongs"},
        RuleCase{"byte 65 as the reader writes 255", with(118, "I5"), nullptr},
        RuleCase{"byte 65 units", with(119, ";"), "column 119 holds ';' where a digit belongs"},
        RuleCase{"Digit columns take any byte", with(84, "\xFF") + "", nullptr},
        RuleCase{"the name takes any byte", with(20, std::string("\0\r\x7F", 3)), nullptr},
        RuleCase{"separators and the x are never read", with(47, "ZZZ"), nullptr},
        RuleCase{"columns past 139 are never read", std::string(reader_line) + "ZZ", nullptr},
        RuleCase{"UTF-8 name shifts the line", shifted_by_utf8(),
                 "column 41 holds ' ' where a digit belongs"}),
    [](const auto& p) { return testing::test_name(p.param.what); });

// Every line the reader writes passes, whatever its record's bytes.
TEST(LineCheck, EveryReaderLinePasses) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::array<std::uint8_t, record_frame_length> record{};
        for (auto& b : record) b = static_cast<std::uint8_t>(rng());
        const FormattedLine line = format_line(testing::address("4T9"), record);
        const auto fault = find_number_column_fault(testing::as_string(line));
        ASSERT_FALSE(fault) << describe(*fault);
    }
}

}  // namespace
}  // namespace ktnet
