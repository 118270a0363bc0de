#include "reader/reader.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/locked_file.hpp"
#include "plu/plu_line.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::write_bytes;

const std::string help =
    "\nnieprawidlowe parametry wywolania \nprawidlowo powinno byc \nrdk 1 S 1 1 999 rdk.txt"
    "\n rdk - nazwa programu\n 1   - numer kanalu w KT-NET \n S   - sekcja lub terminal "
    "\n 1   - numer sekcji lub terminala \n 1   - poczatkowe plu \n 999 - koncowe plu "
    "\n rdk.txt - nazwa pliku wyjsciowego";
const std::string ok = "\nparametry wywolania OK";
const std::string found = "wykryto urzadzenie kt-net\n";
const std::string no_answer = "\nbrak prawid\xC5\x82owej odpowiedzi z wagi";

class ReaderRun : public ::testing::Test {
protected:
    testing::ScratchDir dir;
    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    std::ostringstream console;
    std::string out_path = (dir / "out.txt").string();

    int run(std::vector<std::string> args) {
        std::vector<std::string_view> views(args.begin(), args.end());
        console.str("");
        return run_reader(views, port, console);
    }
    int run(std::string channel, std::string type, std::string number, std::string first,
            std::string last) {
        return run({channel, type, number, first, last, out_path});
    }
    std::string file() const { return read_bytes(out_path); }
    void store(ScaleAddress id, const sim::RecordBody& body) {
        controller.add_scale(id).records[sim::plu_number_of(body)] = body;
    }
};

struct BadArguments {
    const char* what;
    std::vector<std::string> args;  // "OUT" stands for the output file
};

class ReaderBadArguments : public ReaderRun, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(ReaderBadArguments, PrintHelpAndLeaveTheFileAlone) {
    write_bytes(out_path, "precious");
    std::vector<std::string> args = GetParam().args;
    for (auto& a : args)
        if (a == "OUT") a = out_path;
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(console.str(), help);
    EXPECT_EQ(file(), "precious");
    EXPECT_EQ(controller.exchanges(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, ReaderBadArguments,
    ::testing::Values(BadArguments{"none", {}}, BadArguments{"five", {"1", "S", "1", "1", "5"}},
                      BadArguments{"seven", {"1", "S", "1", "1", "5", "OUT", "extra"}},
                      BadArguments{"first_above_last", {"1", "S", "1", "10", "9", "OUT"}},
                      BadArguments{"last_above_10000", {"1", "S", "1", "1", "10001", "OUT"}},
                      BadArguments{"channel_5", {"5", "S", "1", "1", "5", "OUT"}},
                      BadArguments{"channel_0", {"0", "S", "1", "1", "5", "OUT"}},
                      BadArguments{"channel_257", {"257", "S", "1", "1", "5", "OUT"}},
                      BadArguments{"channel_4294967297", {"4294967297", "S", "1", "1", "5", "OUT"}},
                      BadArguments{"letter_x", {"1", "X", "1", "1", "5", "OUT"}},
                      BadArguments{"number_10", {"1", "S", "10", "1", "5", "OUT"}},
                      BadArguments{"number_0", {"1", "S", "0", "1", "5", "OUT"}},
                      BadArguments{"negative_last", {"1", "S", "1", "1", "-1", "OUT"}},
                      BadArguments{"negative_first", {"1", "S", "1", "-1", "5", "OUT"}},
                      BadArguments{"negative_first_wrapping_to_1",
                                   {"1", "S", "1", "-4294967295", "5", "OUT"}},
                      BadArguments{"first_too_big", {"1", "S", "1", "4294967296", "5", "OUT"}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(ReaderRun, FileHeldByAnotherRunIsRefusedAndKept) {
    write_bytes(out_path, "held");
    auto holder = LockedFile::open_for_reading(out_path);
    ASSERT_TRUE(holder);
    EXPECT_EQ(run("1", "S", "1", "1", "5"), 1);
    EXPECT_EQ(console.str(), help);
    EXPECT_EQ(file(), "held");
}

TEST_F(ReaderRun, UnwritablePlaceIsInvalidArguments) {
    EXPECT_EQ(run({"1", "S", "1", "1", "5", (dir / "no" / "such" / "dir.txt").string()}), 1);
    EXPECT_EQ(console.str(), help);
}

TEST_F(ReaderRun, WorkedExampleFromChannel3Terminal7) {
    sim::RecordBody body{};
    RecordFrame frame{};
    ASSERT_TRUE(parse_line(
        "3 T 07 xx001234 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 "
        "12 7 7 42 42 121212 121212 12 42 12121212121212 12 7",
        frame));
    std::copy_n(frame.begin() + 6, body.size(), body.begin());
    body[65 - 6] = 42;  // the scale holds binary 42 in byte 65
    controller.add_scale(testing::address("3T7")).records[1234] = body;

    EXPECT_EQ(run("3", "t", "7", "1234", "1234"), 0);
    EXPECT_EQ(console.str(), ok + found + "*");
    EXPECT_EQ(
        file(),
        "3 T 07 xx001234 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 "
        "7 12 7 7 42 42 121212 121212 12 42 12121212121212 12 7\r\r\n");
    EXPECT_TRUE(controller.violations().empty());
}

TEST_F(ReaderRun, SuccessfulRunWithUnopenableDeviceFirst) {
    port.devices.insert(port.devices.begin(), sim::SimHidDevice{.openable = false});
    controller.add_scale(testing::address("1S1"));
    EXPECT_EQ(run("1", "S", "1", "1", "3"), 0);
    EXPECT_EQ(console.str(), ok + "wykryto urzadzenie hid inne niz kt-net\n" + found + "***");
    const std::string content = file();
    ASSERT_EQ(content.size(), 3u * 143);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string line = content.substr(i * 143, 143);
        EXPECT_EQ(line.substr(0, 16), "1 S 01 xx00000" + std::to_string(i + 1) + " ");
        EXPECT_EQ(line.substr(140), "\r\r\n");
    }
    EXPECT_TRUE(controller.violations().empty());
}

TEST_F(ReaderRun, LowerCaseLetterAndSinglePlu) {
    controller.add_scale(testing::address("1S1"));
    EXPECT_EQ(run("1", "s", "1", "5", "5"), 0);
    EXPECT_EQ(file().substr(0, 16), "1 S 01 xx000005 ");
    EXPECT_EQ(file().size(), 143u);
}

TEST_F(ReaderRun, PluZeroIsAsked) {
    controller.add_scale(testing::address("1S1"));
    EXPECT_EQ(run("1", "S", "1", "0", "0"), 0);
    EXPECT_EQ(file().substr(9, 6), "000000");
}

TEST_F(ReaderRun, RequestFramesAreWellFormed) {
    controller.add_scale(testing::address("2T9"));
    EXPECT_EQ(run("2", "T", "9", "293", "294"), 0);
    EXPECT_TRUE(controller.violations().empty());
    EXPECT_EQ(controller.exchanges(), 3u);
    const std::vector<std::uint8_t> expected = {0x7C, 0x7C, 0x09, 0x00, 0x50, 0x01,
                                                0x26, 0x01, 0x00, 0x7F, 0x7D};
    EXPECT_EQ(controller.last_frame(), expected);  // the checksum 0x7F went escaped
    EXPECT_EQ(controller.last_report()[1], 1);
    EXPECT_EQ(controller.last_report()[2 + 9], 0x7E);
}

TEST_F(ReaderRun, NoControllerEndsWithNoAnswerAndKeepsTheLastBackup) {
    sim::SimPort empty;
    std::vector<std::string> args = {"1", "S", "1", "1", "5", out_path};
    std::vector<std::string_view> views(args.begin(), args.end());
    write_bytes(out_path, "last week's backup\r\r\n");
    EXPECT_EQ(run_reader(views, empty, console), 2);
    EXPECT_EQ(console.str(), ok + no_answer);
    EXPECT_EQ(file(), "last week's backup\r\r\n");
}

TEST_F(ReaderRun, FailedWriteStopsWithItsMessage) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    controller.add_scale(testing::address("1S1"));
    EXPECT_EQ(run({"1", "S", "1", "1", "3", "/dev/full"}), 4);
    EXPECT_EQ(console.str(), ok + found + "\nblad zapisu pliku wyjsciowego");
    EXPECT_EQ(controller.exchanges(), 2u);  // nothing more was asked of the scale
}

}  // namespace
}  // namespace ktnet
