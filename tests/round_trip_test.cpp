// Records read from one simulated scale into a file, then loaded into another, arrive as they
// were but for the bytes the line format documents as one-way.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "loader/loader.hpp"
#include "reader/reader.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

int run_with(auto program, std::vector<std::string> args, sim::SimPort& port,
             std::ostringstream& console) {
    std::vector<std::string_view> views(args.begin(), args.end());
    console.str("");
    return program(views, port, console);
}

TEST(RoundTrip, RandomRecordsFromOneScaleIntoAnother) {
    testing::ScratchDir dir;
    std::mt19937 rng(99);
    constexpr int count = 300;

    sim::SimulatedController source;
    auto& from = source.add_scale(testing::address("1S2")).records;
    for (std::uint32_t plu = 1; plu <= count; ++plu) {
        auto body = testing::random_record(rng, plu);
        testing::make_transferable(body);
        from[plu] = body;
    }
    sim::SimPort source_port = sim::port_with_controller(source);
    std::ostringstream console;
    const std::string file = (dir / "plu.txt").string();
    const auto reader = [](auto args, auto& port, auto& out) {
        return run_reader(args, port, out);
    };
    ASSERT_EQ(
        run_with(reader, {"1", "S", "2", "1", std::to_string(count), file}, source_port, console),
        0)
        << console.str();

    sim::SimulatedController target;
    auto& to = target.add_scale(testing::address("4T3")).records;
    sim::SimPort target_port = sim::port_with_controller(target);
    const auto loader = [&](auto args, auto& port, auto& out) {
        return run_loader(args, port, out, dir / "wynik.txt");
    };
    ASSERT_EQ(
        run_with(loader, {"4", "T", "3", "1", std::to_string(count), file}, target_port, console),
        0)
        << console.str();
    EXPECT_TRUE(source.violations().empty());
    EXPECT_TRUE(target.violations().empty());

    ASSERT_EQ(to.size(), from.size());
    for (const auto& [plu, sent] : from) {
        const auto& got = to.at(plu);
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const std::size_t byte = i + sim::record_body_offset;
            if (byte == 36) {
                EXPECT_EQ(got[i], 0);
            } else if (byte == 65) {
                EXPECT_EQ(got[i], static_cast<std::uint8_t>((sent[i] / 10) * 16 + sent[i] % 10));
            } else {
                ASSERT_EQ(got[i], sent[i]) << "PLU " << plu << " byte " << byte;
            }
        }
    }
}

}  // namespace
}  // namespace ktnet
