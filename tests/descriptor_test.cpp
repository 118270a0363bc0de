// Every way a run can end closes what it opened.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/locked_file.hpp"
#include "loader/loader.hpp"
#include "reader/reader.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::write_bytes;

std::string input_lines(int count) {
    std::string lines;
    for (int i = 1; i <= count; ++i) lines += "1 S 01 xx00000" + std::to_string(i) + " ITEM\n";
    return lines;
}

int open_descriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

TEST(Descriptors, NoRunLeavesADescriptorOpen) {
    testing::ScratchDir dir;
    write_bytes(dir / "in.txt", input_lines(3));
    sim::SimulatedController controller;
    controller.add_scale(testing::address("1S1"));
    std::ostringstream console;
    const auto reader = [&](sim::SimPort& port, std::vector<std::string> args) {
        std::vector<std::string_view> v(args.begin(), args.end());
        return run_reader(v, port, console);
    };
    const auto loader = [&](sim::SimPort& port, std::vector<std::string> args) {
        std::vector<std::string_view> v(args.begin(), args.end());
        return run_loader(v, port, console, dir / "wynik.txt");
    };
    const std::string out = (dir / "out.txt").string(), in = (dir / "in.txt").string();
    const int before = open_descriptors();
    sim::SimPort port = sim::port_with_controller(controller);
    sim::SimPort none;
    EXPECT_EQ(reader(port, {"1", "S", "1", "1", "3", out}), 0);
    EXPECT_EQ(reader(none, {"1", "S", "1", "1", "3", out}), 2);
    EXPECT_EQ(reader(port, {"9", "S", "1", "1", "3", out}), 1);
    EXPECT_EQ(loader(port, {"1", "S", "1", "1", "3", in}), 0);
    EXPECT_EQ(loader(port, {"1", "S", "1", "1", "9", in}), 3);
    EXPECT_EQ(loader(none, {"1", "S", "1", "1", "3", in}), 2);
    {
        auto held = LockedFile::open_for_reading(dir / "wynik.txt");
        EXPECT_EQ(loader(port, {"1", "S", "1", "1", "3", in}), 4);
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(port.open_devices(), 0);
}

}  // namespace
}  // namespace ktnet
