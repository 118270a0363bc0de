#include "plu/file_check.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "test_support.hpp"

namespace ktnet {
namespace {

// The 140 columns of a reader's line for a PLU, with text put at a column.
std::string columns(int plu, std::size_t column = 0, std::string_view text = "") {
    std::string l =
        "1 S 01 xx000000 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 "
        "12 7 7 42 42 121212 121212 12 07 12121212121212 12 7";
    const std::string number = std::to_string(plu);
    l.replace(15 - number.size(), number.size(), number);
    if (!text.empty()) l.replace(column, text.size(), text);
    return l;
}

// That line as the reader stores it: its CR, and each LF as CR LF.
std::string line(int plu, std::size_t column = 0, std::string_view text = "") {
    const std::string l = columns(plu, column, text);
    // A LF the line holds is stored as CR LF, as the reader's text file stores every LF.
    std::string stored;
    for (const char c : l + "\r\n") stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return stored;
}

using Place = std::tuple<std::size_t, std::size_t, FindingKind>;  // line, column, kind

struct CheckCase {
    const char* what;
    std::string file;
    std::vector<Place> expected;
    CheckRules rules{};
};

class FileCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(FileCheck, ReportsEachProblemInItsPlace) {
    const std::string& file = GetParam().file;
    std::vector<Place> found;
    for (const Finding& f : check_plu_file(
             {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()}, GetParam().rules)) {
        EXPECT_FALSE(f.message.empty());
        found.emplace_back(f.line, f.column, f.kind);
    }
    EXPECT_EQ(found, GetParam().expected);
}

// A line of an empty PLU: a blank name, every setting zero.
std::string empty_plu(int plu) {
    std::string l = columns(plu, 16, std::string(24, ' '));
    for (std::size_t i = 40; i < l.size(); ++i)
        if (l[i] >= '1' && l[i] <= '9') l[i] = '0';
    return l + "\r\r\n";
}

using K = FindingKind;
const std::string typed(140, '0');  // a line typed in an editor: CR LF only

INSTANTIATE_TEST_SUITE_P(
    FileCheck, FileCheck,
    ::testing::Values(
        CheckCase{"reader file", line(1) + line(2) + line(3), {}},
        CheckCase{"typed lines and an end mark after them", typed + "\r\n" + line(1) + "\x1A", {}},
        CheckCase{
            "line over 142", line(1) + std::string(154, '0') + "\r\n", {{2, 142, K::too_long}}},
        CheckCase{"line cut short", "1 S 01 xx000007 BREAD\r\n", {{1, 21, K::cut_short}}},
        CheckCase{"empty line", line(1) + "\r\n" + line(2), {{2, 0, K::unreadable_line}}},
        CheckCase{
            "NUL first", line(1) + std::string(1, '\0') + "rest\r\n", {{2, 0, K::unreadable_line}}},
        CheckCase{"space in a number column", line(1, 41, " "), {{1, 41, K::number_column}}},
        CheckCase{"duplicate PLU", line(5) + line(6) + line(5), {{3, 9, K::duplicate_plu}}},
        CheckCase{"byte 65 above 9, which ktnet keeps", line(1, 118, "42"), {}},
        CheckCase{"byte 65 above 9, which ldk changes",
                  line(1, 118, "42"),
                  {{1, 118, K::byte65_changes}},
                  {.for_ldk = true}},
        CheckCase{"PLU above 65535", line(70000) + line(65535), {{1, 9, K::plu_out_of_range}}},
        CheckCase{"UTF-8 name", line(1, 20, "\xC5\x81\xC3\xB3"), {{1, 20, K::utf8_name}}},
        CheckCase{"Windows-1250 name", line(1, 20, "\xA3\xF3\xB9"), {}},
        CheckCase{"UTF-8 name typed, shifting the line",
                  columns(1).replace(16, 1, "\xC5\x81") + "\r\n",
                  {{1, 16, K::utf8_name}, {1, 41, K::number_column}}},
        CheckCase{"name holding LF", line(1, 20, "\n") + line(2), {{1, 20, K::split_record}}},
        CheckCase{
            "name holding two LFs", line(1, 20, "\n\n") + line(2), {{1, 20, K::split_record}}},
        CheckCase{"Digit 0xDA is a LF", line(1, 84, "\n"), {{1, 84, K::split_record}}},
        CheckCase{
            "name holding 0x1A", line(1, 30, "\x1A") + line(2), {{1, 30, K::end_of_file_mark}}},
        CheckCase{
            "end mark before a line", line(1) + "\x1A" + line(2), {{2, 0, K::end_of_file_mark}}},
        CheckCase{"an article without a name",
                  line(1, 16, std::string(24, ' ')),
                  {{1, 16, K::unnamed_article}}},
        CheckCase{"an empty PLU", empty_plu(1) + empty_plu(2), {}},
        CheckCase{"a scale's own unnamed article, kept as it is",
                  line(1, 16, std::string(24, ' ')),
                  {},
                  {.named_articles = false}}),
    [](const auto& p) { return testing::test_name(p.param.what); });

}  // namespace
}  // namespace ktnet
