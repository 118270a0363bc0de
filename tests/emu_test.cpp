// The built rdk and ldk as processes, talking through hidapi and an emulated hidraw device to
// ktnet-emu's simulated controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "emu_support.hpp"

namespace ktnet {
namespace {

using testing::Emulated;
using testing::read_bytes;
using testing::write_bytes;
using namespace testing;  // the shared messages

TEST_F(Emulated, RdkReadsThroughTheDeviceWithAnUnopenableDeviceFirst) {
    write_scales("scales.txt", testing::address("1S1"),
                 {{1, article(1, "BREAD")}, {2, article(2, "BUTTER")}, {3, article(3, "CHEESE")}});
    const auto r = emu({"--scales", "scales.txt", "--unopenable-device"},
                       {RDK_PATH, "1", "S", "1", "1", "3", "out.txt"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.output, rdk_ok + other + found + "***");
    const std::string file = read_bytes(dir / "out.txt");
    ASSERT_EQ(file.size(), 3u * 143);
    EXPECT_EQ(file.substr(143, 40), "1 S 01 xx000002 BUTTER                  ");
    EXPECT_EQ(file.substr(283, 3), "\r\r\n");
}

TEST_F(Emulated, WorkedExampleThroughRealRdkAndLdk) {
    // The example's PLU 12345 lies beyond the reader's range, so the scale holds the same
    // record as PLU 5.
    const std::string line =
        "3 T 07 xx000005 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 "
        "12 "
        "7 7 42 42 121212 121212 12 42 12121212121212 12 7";
    sim::RecordBody body{};
    RecordFrame frame{};
    ASSERT_TRUE(parse_line(line, frame));
    std::copy_n(frame.begin() + 6, body.size(), body.begin());
    body[65 - 6] = 42;  // binary 42, shown as "42"
    write_scales("scales.txt", testing::address("3T7"), {{5, body}});
    const auto read =
        emu({"--scales", "scales.txt"}, {RDK_PATH, "3", "T", "7", "5", "5", "out.txt"});
    EXPECT_EQ(read.exit_status, 0);
    EXPECT_EQ(read_bytes(dir / "out.txt"), line + "\r\r\n");

    const auto load = emu({"--scales", "target.txt", "--scale", "3:T:7"},
                          {LDK_PATH, "3", "T", "7", "1", "1", "out.txt"});
    EXPECT_EQ(load.exit_status, 0);
    EXPECT_EQ(load.output, ldk_ok + found + "*");
    EXPECT_EQ(read_bytes(dir / "wynik.txt"), "ok NAME-OF-ARTICLE 24 CHARS *\r\n");
    const auto scales = read_scales("target.txt");
    const auto& stored = scales.at(testing::address("3T7")).records.at(5);
    EXPECT_EQ(stored[36 - 6], 0);
    EXPECT_EQ(stored[65 - 6], 0x42);
    EXPECT_EQ(stored[56 - 6], 42);
}

struct DeviceListCase {
    const char* what;
    std::vector<std::string> options;
    std::string messages;
    int exit_status;
};

class EmulatedDeviceList : public Emulated, public ::testing::WithParamInterface<DeviceListCase> {};

TEST_P(EmulatedDeviceList, RdkFindsOnlyWhatItShould) {
    std::vector<std::string> options = GetParam().options;
    options.insert(options.end(), {"--scale", "1:S:1"});
    const auto r = emu(options, {RDK_PATH, "1", "S", "1", "1", "1", "out.txt"});
    EXPECT_EQ(r.exit_status, GetParam().exit_status);
    EXPECT_EQ(r.output, rdk_ok + GetParam().messages);
}

std::vector<std::string> strangers(int count) {
    std::vector<std::string> o;
    for (int i = 0; i < count; ++i) o.insert(o.end(), {"--other-device", "USB Keyboard"});
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Emulated, EmulatedDeviceList,
    ::testing::Values(
        DeviceListCase{
            "longer_product_matches", {"--product", "KT-NET CONTROLLER 2"}, found + "*", 0},
        DeviceListCase{
            "shorter_product_does_not", {"--product", "KT-NET CONTROL"}, rdk_no_answer, 2},
        DeviceListCase{"controller_at_index_19", strangers(19), found + "*", 0},
        DeviceListCase{"controller_at_index_20_never_found", strangers(20), rdk_no_answer, 2},
        DeviceListCase{"no_controller", {"--no-controller"}, rdk_no_answer, 2}),
    [](const auto& p) { return std::string(p.param.what); });

struct FaultCase {
    std::string fault;
    int rdk_status;
    std::size_t rdk_lines;
    int ldk_status;
    std::size_t ldk_stored;
};

class EmulatedFaults : public Emulated, public ::testing::WithParamInterface<FaultCase> {};

// Three records with the fault on the second (exchange 2).
TEST_P(EmulatedFaults, BothProgramsStopWhereTheFaultIs) {
    write_scales("scales.txt", testing::address("1S1"),
                 {{1, article(1, "ONE")}, {2, article(2, "TWO")}, {3, article(3, "THREE")}});
    const std::string fault = "2:" + GetParam().fault;
    const auto read = emu({"--scales", "scales.txt", "--fault", fault},
                          {RDK_PATH, "1", "S", "1", "1", "3", "out.txt"});
    EXPECT_EQ(read.exit_status, GetParam().rdk_status);
    const std::size_t lines = GetParam().rdk_lines;
    EXPECT_EQ(read.output,
              rdk_ok + found + std::string(lines, '*') + (lines < 3 ? rdk_no_answer : ""));
    EXPECT_EQ(read_bytes(dir / "out.txt").size(), lines * 143);

    write_bytes(dir / "in.txt",
                "1 S 01 xx000001 ONE\n1 S 01 xx000002 TWO\n1 S 01 xx000003 THREE\n");
    const auto load = emu({"--scales", "target.txt", "--scale", "1:S:1", "--fault", fault},
                          {LDK_PATH, "1", "S", "1", "1", "3", "in.txt"});
    EXPECT_EQ(load.exit_status, GetParam().ldk_status);
    const std::string results = read_bytes(dir / "wynik.txt");
    if (GetParam().ldk_status == 0) {
        EXPECT_EQ(load.output, ldk_ok + found + "***");
        EXPECT_EQ(results.size(), 3u * 31);
    } else {
        EXPECT_EQ(load.output, ldk_ok + found + "*" + ldk_not_accepted);
        EXPECT_EQ(results.substr(31, 3), "er ");
        EXPECT_EQ(results.size(), 2u * 31);
    }
    EXPECT_EQ(read_scales("target.txt").at(testing::address("1S1")).records.size(),
              GetParam().ldk_stored);
}

INSTANTIATE_TEST_SUITE_P(
    Emulated, EmulatedFaults,
    ::testing::Values(FaultCase{"status5", 2, 1, 2, 1}, FaultCase{"wrong-code", 2, 1, 2, 2},
                      FaultCase{"short", 2, 1, 0, 3}, FaultCase{"garbage", 2, 1, 2, 2},
                      // Its spaces for zero bytes break the checksum: asked again, and taken.
                      FaultCase{"no-terminator", 0, 3, 0, 3}, FaultCase{"write-fails", 2, 1, 2, 1},
                      FaultCase{"read-fails", 2, 1, 2, 2}, FaultCase{"unplugged", 2, 1, 2, 1},
                      FaultCase{"latency:20000", 0, 3, 0, 3}, FaultCase{"late:300", 0, 3, 0, 3},
                      // The second copy is drained before the next request.
                      FaultCase{"stray", 0, 3, 0, 3},
                      // rdk asks again and gets the right record; ldk's answer is not a record.
                      FaultCase{"wrong-plu", 0, 3, 0, 3}, FaultCase{"bad-checksum", 0, 3, 0, 3},
                      // Both ask again: the answer is another scale's.
                      FaultCase{"wrong-address", 0, 3, 0, 3},
                      // Carried out, never answered: given up after the 10 s wait.
                      FaultCase{"stall", 2, 1, 2, 2}),
    [](const auto& p) { return testing::test_name(p.param.fault); });

struct QuirkCase {
    std::string quirk;
    std::string second_plu;  // columns 7-14 of the second line: PLU 2, which the scale lacks
};

class EmulatedQuirks : public Emulated, public ::testing::WithParamInterface<QuirkCase> {};

// The first answer the scale gives its own way fails a check and comes back the same twice
// more: taken, and every later one at once.
TEST_P(EmulatedQuirks, RdkReadsToTheEnd) {
    write_scales("scales.txt", testing::address("1S1"),
                 {{1, article(1, "ONE")}, {3, article(3, "THREE")}});
    const auto r = emu({"--scales", "scales.txt", "--quirk", GetParam().quirk},
                       {RDK_PATH, "1", "S", "1", "1", "3", "out.txt"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.output, rdk_ok + found + "***");
    const std::string file = read_bytes(dir / "out.txt");
    ASSERT_EQ(file.size(), 3u * 143);
    EXPECT_EQ(file.substr(7, 12), "xx000001 ONE");
    EXPECT_EQ(file.substr(143 + 7, 8), GetParam().second_plu);
    EXPECT_EQ(file.substr(286 + 7, 14), "xx000003 THREE");
}

INSTANTIATE_TEST_SUITE_P(Emulated, EmulatedQuirks,
                         ::testing::Values(QuirkCase{"unknown-plu-zero", "xx000000"},
                                           QuirkCase{"checksum-off-by-one", "xx000002"},
                                           QuirkCase{"own-address", "xx000002"}),
                         [](const auto& p) {
                             std::string name = p.param.quirk;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A second run while the first holds the controller: refused before it sends anything.
TEST_F(Emulated, SecondRunFindsTheControllerHeld) {
    std::map<std::uint32_t, sim::RecordBody> records;
    for (std::uint32_t plu = 1; plu <= 50; ++plu) records[plu] = article(plu, "ITEM");
    write_scales("scales.txt", testing::address("1S1"), records);
    write_bytes(dir / "in.txt", "1 S 01 xx000001 INTRUDER\n");
    const std::string last_log = "ok LAST WEEK'S LOAD         *\r\n";
    write_bytes(dir / "wynik.txt", last_log);
    // 20 ms an exchange keeps the first run going for a second; ldk starts once it has filed
    // its first record (or after 5 s, when something is wrong).
    const std::string both =
        std::string(RDK_PATH) +
        " 1 S 1 1 50 first.txt & "
        "i=0; until [ -s first.txt ] || [ $i -ge 500 ]; do sleep 0.01; i=$((i+1)); done; " +
        LDK_PATH +
        " 1 S 1 1 1 in.txt >second.txt; echo $? >second.status; "
        "wait $!";
    const auto r =
        emu({"--scales", "scales.txt", "--latency-us", "20000"}, {"/bin/sh", "-c", both});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_bytes(dir / "second.status"), "5\n");
    EXPECT_EQ(read_bytes(dir / "second.txt"),
              ldk_ok + "\nsterownik kt-net jest zajety przez inny program");
    EXPECT_EQ(read_scales("scales.txt").at(testing::address("1S1")).records, records);
    EXPECT_EQ(read_bytes(dir / "wynik.txt"), last_log) << "the held run empties no file";

    ASSERT_EQ(emu({"--scales", "scales.txt"}, {RDK_PATH, "1", "S", "1", "1", "50", "alone.txt"})
                  .exit_status,
              0);
    EXPECT_EQ(read_bytes(dir / "first.txt"), read_bytes(dir / "alone.txt"));
    EXPECT_EQ(read_bytes(dir / "first.txt").size(), 50u * 143);
}

// Without the lock, every open gets every answer: two clients each read the other's.
TEST_F(Emulated, ClientsWithoutTheLockReadEachOthersAnswers) {
#ifndef HID_BARE_CLIENT_PATH
    GTEST_SKIP() << "built without the benchmarks' hid_bare_client";
#else
    const std::string client = HID_BARE_CLIENT_PATH;
    const std::string both = client + " 20 read shared & " + client +
                             " 20 store shared; s=$?; wait $!; exit $((s + $?))";
    const auto r = emu({"--scale", "1:S:1"}, {"/bin/sh", "-c", both});
    ASSERT_EQ(r.exit_status, 0);
    for (const std::string kind : {"read: ", "store: "}) {
        const auto at = r.output.find(kind);
        ASSERT_NE(at, std::string::npos) << r.output;
        EXPECT_GT(std::stoul(r.output.substr(at + kind.size())), 0u) << r.output;
    }
#endif
}

// The command must see its own signal faults (a SIGPIPE death, say), not the emulator's.
TEST_F(Emulated, CommandStartsWithNoSignalIgnoredOrBlocked) {
    const auto r =
        emu({"--no-controller"}, {"/bin/grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.output, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(Emulated, MalformedReportMakesTheEmulatorFail) {
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no python3 to write a raw report";
    // Four bytes instead of a 255-byte report, written straight to the device node.
    const auto r =
        emu({}, {"/usr/bin/python3", "-c",
                 "import os; fd = os.open('/dev/hidraw0', os.O_RDWR); os.write(fd, b'junk')"});
    EXPECT_EQ(r.exit_status, 65);
    const auto clean = emu({}, {"/usr/bin/python3", "-c", "pass"});
    EXPECT_EQ(clean.exit_status, 0);
}

TEST_F(Emulated, ThousandRandomRecordsFromOneScaleIntoAnother) {
    std::mt19937 rng(1000);
    std::map<std::uint32_t, sim::RecordBody> records;
    for (std::uint32_t plu = 1; plu <= 1000; ++plu) {
        auto body = testing::random_record(rng, plu);
        testing::make_transferable(body);
        body[36 - 6] = 0;                                             // never shown in a line
        body[65 - 6] = static_cast<std::uint8_t>(body[65 - 6] % 10);  // two-way only below 10
        records[plu] = body;
    }
    write_scales("source.txt", testing::address("1S1"), records);
    ASSERT_EQ(emu({"--scales", "source.txt"}, {RDK_PATH, "1", "S", "1", "1", "1000", "plu.txt"})
                  .exit_status,
              0);
    ASSERT_EQ(emu({"--scales", "target.txt", "--scale", "2:T:3"},
                  {LDK_PATH, "2", "T", "3", "1", "1000", "plu.txt"})
                  .exit_status,
              0);
    EXPECT_EQ(read_scales("target.txt").at(testing::address("2T3")).records, records);
}

}  // namespace
}  // namespace ktnet
