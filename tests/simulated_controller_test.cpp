#include "sim/simulated_controller.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "sim/scale_file.hpp"
#include "test_support.hpp"

namespace ktnet::sim {
namespace {

// Sends a raw frame the way the programs do and takes the answer report from its own queue,
// whenever it is due.
struct Peer {
    SimulatedController controller;
    std::shared_ptr<InputQueue> queue = controller.open_queue();
    Report in{};
    Clock::time_point due;  // when the last answer became readable

    bool send(std::uint8_t route, FrameBuffer raw, std::size_t n) {
        FrameBuffer escaped{};
        checksum(n, raw);
        escape(n, raw, escaped);
        Report out{};
        fill_output_report(route, escaped, out);
        if (!controller.receive(out)) return false;
        const auto next = queue->next_due();
        if (!next) return false;
        due = *next;
        const auto entry = queue->take(due);
        in = entry->report;
        return !entry->fails;
    }
};

TEST(SimulatedController, AnswersOpeningRequestAndStore) {
    Peer p;
    auto& scale = p.controller.add_scale(testing::address("2S4")).records;
    FrameBuffer open{};
    build_opening_frame(open);
    ASSERT_TRUE(p.send(20, open, 11));
    EXPECT_EQ(p.in[1], 0);
    EXPECT_EQ(p.in[2 + 4], 0xCB);

    RecordFrame record{};
    ASSERT_TRUE(parse_line("2 S 04 xx000300 STORED", record));
    FrameBuffer store{};
    build_store_frame(0x84, record, store);
    ASSERT_TRUE(p.send(1, store, 77));
    EXPECT_EQ(p.in[2 + 4], 0xD1);
    ASSERT_TRUE(scale.contains(300));

    const FrameBuffer request =
        testing::frame_of({0x7C, 0x7C, 0x84, 0, 0x50, 1, 0x2C, 0x01, 0, 0, 0x7D});
    ASSERT_TRUE(p.send(1, request, 11));
    FrameBuffer answer{}, read{};
    std::copy_n(p.in.begin() + 2, 253, answer.begin());
    ASSERT_EQ(unescape(answer, read), 77u);
    EXPECT_EQ(read[4], 0xD0);
    EXPECT_EQ(std::string(read.begin() + 9, read.begin() + 15), "STORED");
    EXPECT_TRUE(record_checksum_holds(std::span<const std::uint8_t, 77>(read.data(), 77)));
    EXPECT_TRUE(p.controller.violations().empty());
}

TEST(SimulatedController, UnknownPluIsAnEmptyRecordAndMissingScaleIsStatus5) {
    Peer p;
    p.controller.add_scale(testing::address("1T1"));
    ASSERT_TRUE(p.send(0, testing::frame_of({0x7C, 0x7C, 0x01, 0, 0x50, 1, 9, 0, 0, 0, 0x7D}), 11));
    FrameBuffer answer{}, record{};
    std::copy_n(p.in.begin() + 2, 253, answer.begin());
    ASSERT_EQ(unescape(answer, record), 77u);
    EXPECT_EQ(record[6], 9);
    EXPECT_EQ(std::string(record.begin() + 9, record.begin() + 33), std::string(24, ' '));
    EXPECT_EQ(record[40], 0);

    ASSERT_TRUE(p.send(1, testing::frame_of({0x7C, 0x7C, 0x01, 0, 0x50, 1, 9, 0, 0, 0, 0x7D}), 11));
    EXPECT_EQ(p.in[1], 5);
    EXPECT_TRUE(p.controller.violations().empty());
}

struct ViolationCase {
    const char* what;
    std::uint8_t route;
    std::vector<std::uint8_t> escaped;  // as it goes into the report
};

class StrictPeer : public ::testing::TestWithParam<ViolationCase> {};

TEST_P(StrictPeer, RecordsTheViolationAndAnswersStatus5) {
    SimulatedController c;
    c.add_scale(testing::address("1S1"));
    Report out{};
    out[1] = GetParam().route;
    std::copy(GetParam().escaped.begin(), GetParam().escaped.end(), out.begin() + 2);
    const auto queue = c.open_queue();
    ASSERT_TRUE(c.receive(out));
    const auto in = queue->take(Clock::now());
    ASSERT_TRUE(in);
    EXPECT_EQ(in->report[1], 5);
    EXPECT_EQ(c.violations().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedController, StrictPeer,
    ::testing::Values(
        ViolationCase{"bad_route", 7, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0, 0x2D, 0x7D}},
        ViolationCase{"bad_head", 0, {0x7B, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0, 0x2D, 0x7D}},
        ViolationCase{"unescaped_byte", 0, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 0x7C, 0, 0, 0, 0x7D}},
        ViolationCase{"bad_escape", 0, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 0x7E, 9, 0, 0, 0x7D}},
        ViolationCase{"no_terminator", 0, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0, 0x2D}},
        ViolationCase{"wrong_length", 0, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0x2C, 0x7D}},
        ViolationCase{"opening_on_channel", 0, {0x7C, 0x7C, 0x01, 0, 0x4B, 1, 1, 0, 0, 0xB2, 0x7D}},
        ViolationCase{
            "request_on_opening_route", 20, {0x7C, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0, 0x2D, 0x7D}},
        ViolationCase{"bad_address", 0, {0x7C, 0x7C, 0x8A, 0, 0x50, 1, 1, 0, 0, 0x24, 0x7D}},
        ViolationCase{"unknown_command", 0, {0x7C, 0x7C, 0x81, 0, 0x52, 1, 1, 0, 0, 0x2B, 0x7D}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(SimulatedController, ChecksumAndFlagViolationsAreRecordedButAnswered) {
    Peer p;
    p.controller.add_scale(testing::address("1S1"));
    Report out{};
    const std::vector<std::uint8_t> bad_sum = {0x7C, 0x7C, 0x81, 0, 0x50, 1, 1, 0, 0, 0x00, 0x7D};
    std::copy(bad_sum.begin(), bad_sum.end(), out.begin() + 2);
    ASSERT_TRUE(p.controller.receive(out));
    EXPECT_EQ(p.controller.violations().size(), 1u);
    out[0] = 1;  // report number
    ASSERT_TRUE(p.controller.receive(out));
    EXPECT_EQ(p.controller.violations().size(), 3u);
}

TEST(SimulatedController, ReportOfWrongSizeIsAViolation) {
    SimulatedController c;
    std::vector<std::uint8_t> small(64, 0);
    ASSERT_TRUE(c.receive(small));
    EXPECT_EQ(c.violations().size(), 1u);
}

TEST(SimulatedController, FaultNamesRoundTrip) {
    for (const char* name :
         {"status5", "wrong-code", "short", "garbage", "no-terminator", "write-fails", "read-fails",
          "unplugged", "latency", "stray", "wrong-plu", "bad-checksum", "stall", "wrong-address"}) {
        const auto kind = fault_kind_from_name(name);
        ASSERT_TRUE(kind) << name;
        EXPECT_EQ(fault_kind_name(*kind), name);
    }
    EXPECT_FALSE(fault_kind_from_name("nonsense"));
}

TEST(SimulatedController, UnpluggedStaysUnplugged) {
    Peer p;
    p.controller.add_scale(testing::address("1S1"));
    p.controller.inject(1, {FaultKind::unplugged});
    FrameBuffer open{};
    build_opening_frame(open);
    EXPECT_TRUE(p.send(20, open, 11));
    EXPECT_FALSE(p.send(20, open, 11));
    EXPECT_FALSE(p.send(20, open, 11));
    EXPECT_TRUE(p.controller.unplugged());
}

// As hidraw does: each open handle gets its own copy of every answer, whoever asked.
TEST(SimulatedController, EveryOpenQueueGetsEachAnswerStrayTwiceStallNever) {
    Peer p;
    auto other = p.controller.open_queue();
    p.controller.inject(1, {FaultKind::stray});
    p.controller.inject(2, {FaultKind::stall});
    FrameBuffer open{};
    build_opening_frame(open);
    for (int i = 0; i < 3; ++i) {
        Report out{};
        FrameBuffer raw = open, escaped{};
        checksum(11, raw);
        escape(11, raw, escaped);
        fill_output_report(20, escaped, out);
        ASSERT_TRUE(p.controller.receive(out));
    }
    EXPECT_EQ(p.queue->size(), 3u);
    EXPECT_EQ(other->size(), 3u);
    other.reset();  // a closed handle gets nothing more
    EXPECT_TRUE(p.controller.violations().empty());
}

TEST(SimulatedController, LatencyHoldsEachAnswerBackUntilItIsDue) {
    using namespace std::chrono;
    Peer p;
    p.controller.set_latency(milliseconds(15));
    p.controller.inject(2, {FaultKind::latency, milliseconds(10)});
    FrameBuffer open{};
    build_opening_frame(open);
    for (const auto delay : {milliseconds(15), milliseconds(15), milliseconds(25)}) {
        const auto start = steady_clock::now();
        ASSERT_TRUE(p.send(20, open, 11));
        EXPECT_GE(p.due - start, delay);
        EXPECT_LT(p.due - start, delay + milliseconds(5));
        EXPECT_EQ(p.in[1], 0);
    }
}

// As a real controller answers one request after another: an answer that comes late is still
// the first to arrive, and the next request's answer waits behind it.
TEST(SimulatedController, ALateAnswerArrivesAtItsTimeAheadOfTheNextAnswer) {
    using namespace std::chrono;
    SimulatedController c;
    c.add_scale(testing::address("1S1"));
    const auto queue = c.open_queue();
    c.inject(0, {FaultKind::latency, milliseconds(30)});
    const auto sent = Clock::now();
    for (const std::uint8_t plu : {std::uint8_t{1}, std::uint8_t{2}}) {
        FrameBuffer raw = testing::frame_of({0x7C, 0x7C, 0x81, 0, 0x50, 1, plu, 0, 0, 0, 0x7D});
        FrameBuffer escaped{};
        checksum(11, raw);
        escape(11, raw, escaped);
        Report out{};
        fill_output_report(0, escaped, out);
        ASSERT_TRUE(c.receive(out));
    }
    EXPECT_FALSE(queue->take(Clock::now()));  // the second answer is due, but behind the first
    ASSERT_EQ(queue->size(), 2u);
    const auto due = *queue->next_due();
    EXPECT_GE(due - sent, milliseconds(30));
    EXPECT_FALSE(queue->take(due - microseconds(1)));
    const auto late = queue->take(due);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->report[2 + 6], 1);
    const auto next = queue->take(due);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->report[2 + 6], 2);
}

TEST(ScaleFile, SavesAndLoadsEveryByteExactly) {
    testing::ScratchDir dir;
    std::mt19937 rng(5);
    SimulatedController a;
    for (const ScaleAddress id : {testing::address("1S1"), testing::address("4T9")}) {
        auto& records = a.add_scale(id).records;
        std::vector<std::uint32_t> plus;
        for (std::uint32_t plu = 1; plu <= 200; ++plu) plus.push_back(plu * 7);
        // Beyond six digits, sharing their last six with PLU 7 or none: all kept apart.
        plus.insert(plus.end(), {1'000'007, 16'000'007, 16'777'215});
        for (const std::uint32_t plu : plus) {
            auto body = testing::random_record(rng, plu);
            testing::make_transferable(body);
            body[36 - record_body_offset] = static_cast<std::uint8_t>(rng() % 10);
            records[plu] = body;
        }
    }
    std::string error;
    ASSERT_TRUE(save_scales(dir / "scales.txt", a, error)) << error;
    SimulatedController b;
    ASSERT_TRUE(load_scales(dir / "scales.txt", b, error)) << error;
    ASSERT_EQ(a.scales().size(), b.scales().size());
    for (const auto& [id, scale] : a.scales()) {
        EXPECT_EQ(b.scales().at(id).records, scale.records);
    }
}

TEST(ScaleFile, ReaderLinesLoadAndBadScaleColumnsAreReported) {
    testing::ScratchDir dir;
    testing::write_bytes(dir / "s.txt", "2 T 03 xx000042 SAMPLE\r\r\n");
    SimulatedController c;
    std::string error;
    ASSERT_TRUE(load_scales(dir / "s.txt", c, error)) << error;
    ASSERT_TRUE(c.find_scale(testing::address("2T3")));
    EXPECT_TRUE(c.find_scale(testing::address("2T3"))->records.contains(42));

    testing::write_bytes(dir / "bad.txt", "9 T 03 xx000042 SAMPLE\n");
    EXPECT_FALSE(load_scales(dir / "bad.txt", c, error));
    EXPECT_NE(error.find("bad.txt:1"), std::string::npos);
    testing::write_bytes(dir / "big.txt", "2 T 03 16777215 LARGEST\n2 T 03 16777216 BEYOND\n");
    EXPECT_FALSE(load_scales(dir / "big.txt", c, error));
    EXPECT_NE(error.find("big.txt:2: PLU number 16777216"), std::string::npos) << error;
    EXPECT_FALSE(load_scales(dir / "missing.txt", c, error));
}

}  // namespace
}  // namespace ktnet::sim
