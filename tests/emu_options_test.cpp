#include "emu/emu_options.hpp"

#include <gtest/gtest.h>

namespace ktnet::emu {
namespace {

ParsedOptions parse(std::vector<std::string_view> args) {
    return parse_emu_options(args);
}

TEST(EmuOptions, FullCommandLine) {
    const auto p = parse({"--scales",
                          "s.txt",
                          "--scale",
                          "2:T:3",
                          "--unopenable-device",
                          "--other-device",
                          "Mouse",
                          "--product",
                          "KT-NET CONTROLLER 2",
                          "--fault",
                          "3:status5",
                          "--fault",
                          "4:latency:8000",
                          "--fault",
                          "5:late:300",
                          "--quirk",
                          "unknown-plu-zero",
                          "--quirk",
                          "checksum-off-by-one",
                          "--quirk",
                          "own-address",
                          "--latency-us",
                          "100",
                          "--pid-file",
                          "p",
                          "--usage-file",
                          "u",
                          "--log",
                          "l",
                          "--",
                          "rdk",
                          "--help"});
    ASSERT_TRUE(p.options) << p.error;
    const EmuOptions& o = *p.options;
    EXPECT_EQ(o.scales_file, "s.txt");
    ASSERT_EQ(o.scales.size(), 1u);
    EXPECT_EQ(o.scales[0], ScaleAddress::parse("2T3"));
    ASSERT_EQ(o.devices_before.size(), 2u);
    EXPECT_FALSE(o.devices_before[0].openable);
    EXPECT_EQ(o.devices_before[1].product, "Mouse");
    EXPECT_EQ(o.product, "KT-NET CONTROLLER 2");
    ASSERT_EQ(o.faults.size(), 3u);
    EXPECT_EQ(o.faults[0].first, 3u);
    EXPECT_EQ(o.faults[0].second.kind, sim::FaultKind::status5);
    EXPECT_EQ(o.faults[1].second.delay, std::chrono::microseconds(8000));
    EXPECT_EQ(o.faults[2].second.kind, sim::FaultKind::latency);
    EXPECT_EQ(o.faults[2].second.delay, std::chrono::milliseconds(300));
    EXPECT_TRUE(o.quirks.unknown_plu_as_zero);
    EXPECT_TRUE(o.quirks.checksum_off_by_one);
    EXPECT_TRUE(o.quirks.own_address);
    EXPECT_EQ(o.latency, std::chrono::microseconds(100));
    EXPECT_EQ(o.pid_file, "p");
    EXPECT_EQ(o.usage_file, "u");
    EXPECT_EQ(o.log_file, "l");
    EXPECT_EQ(o.command,
              (std::vector<std::string>{"rdk", "--help"}));  // after -- it is the command's
}

struct BadCase {
    std::vector<std::string_view> args;
    std::string_view error_part;
};

class EmuOptionErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(EmuOptionErrors, SayWhatIsWrong) {
    const auto p = parse(GetParam().args);
    EXPECT_FALSE(p.options);
    EXPECT_NE(p.error.find(GetParam().error_part), std::string::npos) << p.error;
}

INSTANTIATE_TEST_SUITE_P(
    EmuOptions, EmuOptionErrors,
    ::testing::Values(BadCase{{"--scales", "s"}, "no command"},
                      BadCase{{"--bogus", "--", "x"}, "unknown option"},
                      BadCase{{"--scale", "5:S:1", "--", "x"}, "--scale"},
                      BadCase{{"--scale", "1:X:1", "--", "x"}, "--scale"},
                      BadCase{{"--scale", "1:S:0", "--", "x"}, "--scale"},
                      BadCase{{"--fault", "3:melt", "--", "x"}, "--fault"},
                      BadCase{{"--fault", "x:status5", "--", "x"}, "--fault"},
                      BadCase{{"--fault", "3:latency", "--", "x"}, "--fault"},
                      BadCase{{"--fault", "3:status5:9", "--", "x"}, "--fault"},
                      BadCase{{"--fault", "3:late", "--", "x"}, "--fault"},
                      BadCase{{"--fault", "3:late:-1", "--", "x"}, "--fault"},
                      BadCase{{"--quirk", "sideways", "--", "x"}, "--quirk"},
                      BadCase{{"--latency-us", "-5", "--", "x"}, "--latency-us"},
                      BadCase{{"--pid-file"}, "needs a value"}));

TEST(EmuOptions, HelpNeedsNoCommand) {
    const auto p = parse({"--help"});
    ASSERT_TRUE(p.options);
    EXPECT_TRUE(p.options->help);
}

}  // namespace
}  // namespace ktnet::emu
