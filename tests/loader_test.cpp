#include "loader/loader.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/locked_file.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::write_bytes;

const std::string ok = "\n parametry wywolania OK";
const std::string invalid = "\n nieprawidlowe parametry wywolania ";
const std::string found = "wykryto urzadzenie kt-net\n";
const std::string not_accepted = "\nbrak prawidlowej odpowiedzi wagi";
const std::string bad_input = "\n bledne dane w zbiorze wejsciowym..";

constexpr std::string_view worked_line =
    "3 T 07 xx012345 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 12 "
    "7 7 42 42 121212 121212 12 42 12121212121212 12 7";

// A line for PLU n named "ARTICLE n", padded to the reader's 140 columns plus its CR.
std::string line_for(int n) {
    std::string name = "ARTICLE " + std::to_string(n);
    name.resize(24, ' ');
    char plu[16];
    std::snprintf(plu, sizeof plu, "%06d", n);
    std::string line = "1 S 01 xx" + std::string(plu) + " " + name +
                       " 000000 x 000000 000000 000000 000000 00 00 0 0 00 0 0 00 00 000000 "
                       "000000 00 00 00000000000000 00 0";
    return line + "\r";
}

std::string file_of_lines(int count) {
    std::string content;
    for (int i = 1; i <= count; ++i) content += line_for(i) + "\n";
    return content;
}

std::string result_line(std::string_view status, int n) {
    std::string name = "ARTICLE " + std::to_string(n);
    name.resize(24, ' ');
    return std::string(status) + " " + name + " *\r\n";
}

class LoaderRun : public ::testing::Test {
protected:
    testing::ScratchDir dir;
    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    std::ostringstream console;
    std::filesystem::path input = dir / "in.txt";
    std::filesystem::path result = dir / "wynik.txt";
    sim::Scale& scale = controller.add_scale(testing::address("1S1"));

    std::string diagnostics;

    int run(std::vector<std::string> args) {
        std::vector<std::string_view> views(args.begin(), args.end());
        console.str("");
        diagnostics.clear();
        RunContext context;
        context.diagnose = [this](std::string_view line) { diagnostics += line; };
        return run_loader(views, port, console, result, context);
    }
    int run(std::string first, std::string last) {
        return run({"1", "S", "1", first, last, input.string()});
    }
    std::string results() const { return read_bytes(result); }
};

struct BadArguments {
    const char* what;
    std::vector<std::string> args;  // "IN" stands for the input file
};

class LoaderBadArguments : public LoaderRun, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(LoaderBadArguments, OneMessageAndNoFileTouched) {
    write_bytes(input, file_of_lines(3));
    write_bytes(result, "previous results");
    std::vector<std::string> args = GetParam().args;
    for (auto& a : args)
        if (a == "IN") a = input.string();
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(console.str(), invalid);
    EXPECT_EQ(results(), "previous results");
    EXPECT_EQ(read_bytes(input), file_of_lines(3));
    EXPECT_EQ(controller.exchanges(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderBadArguments,
    ::testing::Values(BadArguments{"none", {}}, BadArguments{"five", {"1", "S", "1", "1", "5"}},
                      BadArguments{"seven", {"1", "S", "1", "1", "5", "IN", "x"}},
                      BadArguments{"first_0", {"1", "S", "1", "0", "5", "IN"}},
                      BadArguments{"last_0", {"1", "S", "1", "1", "0", "IN"}},
                      BadArguments{"first_above_last", {"1", "S", "1", "5", "3", "IN"}},
                      BadArguments{"channel_257", {"257", "S", "1", "1", "3", "IN"}},
                      BadArguments{"channel_5", {"5", "S", "1", "1", "3", "IN"}},
                      BadArguments{"number_265", {"1", "S", "265", "1", "3", "IN"}},
                      BadArguments{"letter", {"1", "Q", "1", "1", "3", "IN"}},
                      BadArguments{"last_too_big", {"1", "S", "1", "1", "4294967296", "IN"}},
                      BadArguments{"negative_last_wrapping_to_1",
                                   {"1", "S", "1", "1", "-4294967295", "IN"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(LoaderRun, MissingInputIsInvalidAndNeverCreated) {
    EXPECT_EQ(run("1", "3"), 1);
    EXPECT_EQ(console.str(), invalid);
    EXPECT_FALSE(std::filesystem::exists(input));
    EXPECT_FALSE(std::filesystem::exists(result));
}

TEST_F(LoaderRun, HeldInputIsInvalid) {
    write_bytes(input, file_of_lines(3));
    auto holder = LockedFile::open_for_reading(input);
    ASSERT_TRUE(holder);
    EXPECT_EQ(run("1", "3"), 1);
    EXPECT_EQ(console.str(), invalid);
}

TEST_F(LoaderRun, HeldResultFileStopsBeforeAnythingIsSent) {
    write_bytes(input, file_of_lines(3));
    write_bytes(result, "another run's results");
    auto holder = LockedFile::open_for_reading(result);
    ASSERT_TRUE(holder);
    EXPECT_EQ(run("1", "3"), 4);
    EXPECT_EQ(console.str(), ok + "\n nie mozna otworzyc pliku wynik.txt");
    EXPECT_EQ(controller.exchanges(), 0u);
    EXPECT_EQ(results(), "another run's results");
}

TEST_F(LoaderRun, RangeThreeToFiveReadsFromLineOneAndSendsThree) {
    write_bytes(input, file_of_lines(6));
    EXPECT_EQ(run("3", "5"), 0);
    EXPECT_EQ(console.str(), ok + found + "***");
    EXPECT_EQ(results(), result_line("ok", 3) + result_line("ok", 4) + result_line("ok", 5));
    EXPECT_EQ(results().size(), 3u * 31);
    EXPECT_EQ(scale.records.size(), 3u);
    EXPECT_TRUE(scale.records.contains(3) && scale.records.contains(5));
    EXPECT_TRUE(controller.violations().empty());
}

TEST_F(LoaderRun, WorkedExampleLineBecomesTheExactQFrame) {
    controller.add_scale(testing::address("3T7"));
    write_bytes(input, std::string(worked_line) + "\r\r\n");
    EXPECT_EQ(run({"3", "T", "7", "1", "1", input.string()}), 0);
    const auto& frame = controller.last_frame();
    ASSERT_EQ(frame.size(), 77u);
    EXPECT_EQ(frame[2], 0x07);
    EXPECT_EQ(frame[4], 0x51);
    EXPECT_EQ(frame[6], 0x39);
    EXPECT_EQ(frame[7], 0x30);
    EXPECT_EQ(frame[36], 0);
    EXPECT_EQ(frame[65], 0x42);
    EXPECT_EQ(frame[56], 42);
    EXPECT_EQ(frame[51], 7);
    EXPECT_EQ(frame[33], 0x12);
    EXPECT_EQ(std::string(frame.begin() + 9, frame.begin() + 33), "NAME-OF-ARTICLE 24 CHARS");
    EXPECT_EQ(results(), "ok NAME-OF-ARTICLE 24 CHARS *\r\n");
    EXPECT_TRUE(controller.violations().empty());
}

struct InputCase {
    const char* what;
    std::string content;
    std::string first, last;
    int exit_status;
    std::size_t sent;  // records sent and accepted
    bool bad_input_message;
};

class LoaderInput : public LoaderRun, public ::testing::WithParamInterface<InputCase> {};

TEST_P(LoaderInput, StopsWhereTheFileStops) {
    write_bytes(input, GetParam().content);
    EXPECT_EQ(run(GetParam().first, GetParam().last), GetParam().exit_status);
    EXPECT_EQ(console.str(), ok + found + std::string(GetParam().sent, '*') +
                                 (GetParam().bad_input_message ? bad_input : ""));
    EXPECT_EQ(results().size(), GetParam().sent * 31);
    EXPECT_EQ(scale.records.size(), GetParam().sent);
    EXPECT_EQ(read_bytes(input), GetParam().content);
}

const std::string long_line = line_for(2).substr(0, 140) + "  +";  // 143 characters

INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderInput,
    ::testing::Values(
        InputCase{"empty_file", "", "1", "3", 3, 0, true},
        InputCase{"fewer_lines_than_last", file_of_lines(2), "1", "3", 3, 2, true},
        InputCase{"negative_last_runs_to_the_end", file_of_lines(4), "2", "-1", 3, 3, true},
        InputCase{"empty_line_before_range", line_for(1) + "\n\n" + file_of_lines(3), "3", "4", 3,
                  0, true},
        InputCase{"empty_line_inside_range", line_for(1) + "\n\n", "1", "2", 3, 1, true},
        InputCase{"nul_line", line_for(1) + "\n" + std::string(1, '\0') + "x\n", "1", "2", 3, 1,
                  true},
        InputCase{"last_line_without_lf", line_for(1) + "\n" + line_for(2), "1", "2", 0, 2, false},
        InputCase{"eof_mark_ends_file", line_for(1) + "\n\x1A" + line_for(2) + "\n", "1", "2", 3, 1,
                  true},
        InputCase{"crlf_lines", line_for(1) + "\r\n" + line_for(2) + "\r\n", "1", "2", 0, 2, false},
        InputCase{"line_of_142_is_whole", line_for(1).substr(0, 140) + "  \n" + line_for(2) + "\n",
                  "1", "2", 0, 2, false},
        InputCase{"line_of_143_is_bad_data",
                  line_for(1) + "\n" + long_line + "\n" + line_for(3) + "\n", "1", "3", 3, 1, true},
        InputCase{"too_long_before_range", long_line + "\n" + line_for(2) + "\n", "2", "2", 3, 0,
                  true},
        InputCase{"short_lines_are_taken", "1 S 01 xx000007 SHORT\n", "1", "1", 0, 1, false}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(LoaderRun, NoControllerLogsOneErLine) {
    write_bytes(input, file_of_lines(3));
    sim::SimPort empty;
    std::vector<std::string> args = {"1", "S", "1", "1", "3", input.string()};
    std::vector<std::string_view> views(args.begin(), args.end());
    EXPECT_EQ(run_loader(views, empty, console, result), 2);
    EXPECT_EQ(console.str(), ok + not_accepted);
    EXPECT_EQ(results(), result_line("er", 1));
}

TEST_F(LoaderRun, ScaleOnAnotherChannelIsNotThere) {
    write_bytes(input, file_of_lines(1));
    EXPECT_EQ(run({"2", "S", "1", "1", "1", input.string()}), 2);
    EXPECT_EQ(console.str(), ok + found + not_accepted);
    EXPECT_EQ(results(), result_line("er", 1));
}

// Files that are not PLU files never reach the scale; every line the reader writes does.
struct LineCase {
    const char* what;
    std::string second_line;  // between two good lines
    std::string first = "1";
    std::string diagnosis;  // empty: the three lines are sent
};

class LoaderLines : public LoaderRun, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LoaderLines, RefuseTheWholeRunOrSendEveryLine) {
    write_bytes(input, line_for(1) + "\n" + GetParam().second_line + "\n" + line_for(3) + "\n");
    const bool refused = !GetParam().diagnosis.empty();
    EXPECT_EQ(run(GetParam().first, "3"), refused ? 3 : 0);
    EXPECT_EQ(controller.exchanges(), refused ? 0u : 5u - std::stoul(GetParam().first));
    EXPECT_EQ(diagnostics, refused ? (dir / GetParam().diagnosis).string() : "");
    if (refused) {
        EXPECT_EQ(console.str(), ok + bad_input);
        EXPECT_FALSE(std::filesystem::exists(result));
    }
}

std::string with(std::string line, std::size_t column, std::string_view text) {
    return line.replace(column, text.size(), text);
}

// A name typed in a UTF-8 editor: its "Ł" takes two bytes, and the rest of the line moves on.
std::string utf8_name(std::string line) {
    line.insert(line.begin() + 16, '\xC5');
    return line;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderLines,
    ::testing::Values(
        LineCase{"result_log_line", "ok ARTICLE 2                *",
                 "1", "in.txt:2: column 9 holds 'E' where a digit belongs"},
        LineCase{"csv_row", "2;ARTICLE 2;450;0;0",
                 "1", "in.txt:2: column 9 holds ' ' where a digit belongs"},
        LineCase{"utf8_name_shifts_the_line", utf8_name(line_for(2)),
                 "1", "in.txt:2: column 41 holds ' ' where a digit belongs"},
        LineCase{"space_in_price", with(line_for(2), 43, " "),
                 "1", "in.txt:2: column 43 holds ' ' where a digit belongs"},
        LineCase{"bcd_nibbles_above_9", with(line_for(2), 41, ":;<=>?"), "1", ""},
        LineCase{"decimal_255", with(line_for(2), 95, "I5"), "1", ""},
        LineCase{"digit_columns_take_any_byte", with(line_for(2), 84, "\xFF"), "1", ""},
        LineCase{"short_line_made_by_hand", "1 S 01 xx000002 SHORT", "1", ""},
        LineCase{"outside_the_range_is_not_sent_nor_checked", "garbage", "3", ""}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

}  // namespace
}  // namespace ktnet
