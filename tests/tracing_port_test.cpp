// A traced run, read back, gives exactly the reports that went to the controller and came back.
#include "link/tracing_port.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "reader/reader.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

TEST(TracingPort, ATracedRunReadsBackAsTheReportsSentAndReceived) {
    testing::ScratchDir dir;
    sim::SimulatedController controller;
    controller.add_scale(testing::address("2T4"));
    sim::SimPort port = sim::port_with_controller(controller);
    std::stringstream trace;
    TracingPort traced(port, trace);
    std::ostringstream console;
    const std::vector<std::string> args = {"2", "T", "4", "7", "9", (dir / "out.txt").string()};
    const std::vector<std::string_view> views(args.begin(), args.end());
    ASSERT_EQ(run_reader(views, traced, console), 0);

    // The reports as the programs build them: one escaped buffer, leftovers and all.
    std::vector<Report> expected;
    FrameBuffer raw{}, escaped{};
    const auto add = [&](std::uint8_t route, std::size_t n) {
        checksum(n, raw);
        escape(n, raw, escaped);
        fill_output_report(route, escaped, expected.emplace_back());
    };
    build_opening_frame(raw);
    add(route_opening, short_frame_length);
    for (std::uint32_t plu = 7; plu <= 9; ++plu) {
        build_request_frame(testing::address("2T4").address_byte(), plu, raw);
        add(1, short_frame_length);
    }

    const auto reports = read_trace(trace);
    ASSERT_EQ(reports.size(), 2 * expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(reports[2 * i].written);
        EXPECT_EQ(reports[2 * i].report, expected[i]) << "report " << i;
        EXPECT_FALSE(reports[2 * i + 1].written);
        EXPECT_EQ(reports[2 * i + 1].report[2], frame_head);
    }
    EXPECT_EQ(reports.back().report[2 + command_index], answer_plu);
    EXPECT_NE(trace.str().find("# claim /dev/sim0: held for this run"), std::string::npos);
}

}  // namespace
}  // namespace ktnet
