#include "link/frame.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::frame_of;

std::vector<std::uint8_t> first(const FrameBuffer& b, std::size_t n) {
    return {b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)};
}

TEST(Frame, OpeningFrameHasChecksumB2AndNeedsNoEscape) {
    FrameBuffer raw{}, escaped{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    const std::size_t n = escape(short_frame_length, raw, escaped);
    const std::vector<std::uint8_t> expected = {0x7C, 0x7C, 0x01, 0x00, 0x4B, 0x01,
                                                0x01, 0x00, 0x00, 0xB2, 0x7D};
    EXPECT_EQ(first(raw, 11), expected);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(first(escaped, 11), expected);
}

TEST(Frame, EscapingExampleBothWays) {
    const FrameBuffer raw =
        frame_of({0x7C, 0x7C, 0x7C, 0x7D, 0x7C, 0x7D, 0x7E, 0x7F, 0x41, 0x7C, 0x7D});
    FrameBuffer escaped{}, back{};
    const std::vector<std::uint8_t> expected = {0x7C, 0x7C, 0x7C, 0x7D, 0x7E, 0x00, 0x7E, 0x01,
                                                0x7E, 0x02, 0x7E, 0x03, 0x41, 0x7E, 0x00, 0x7D};
    EXPECT_EQ(escape(11, raw, escaped), 16u);
    EXPECT_EQ(first(escaped, 16), expected);
    EXPECT_EQ(unescape(escaped, back), 11u);
    EXPECT_EQ(first(back, 11), first(raw, 11));
}

TEST(Frame, ChecksumMakesBytesTwoToEndSumToZeroAndIsEscapedWhenItCollides) {
    // Payload chosen so that the checksum lands on 0x7E.
    FrameBuffer raw = frame_of({0x7C, 0x7C, 0x02, 0x00, 0x50, 0x01, 0x00, 0x00, 0x00, 0, 0x7D});
    raw[6] = static_cast<std::uint8_t>(0x100 - 0x7E - 0x02 - 0x50 - 0x01);
    checksum(11, raw);
    EXPECT_EQ(raw[9], 0x7E);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i <= 9; ++i) sum = static_cast<std::uint8_t>(sum + raw[i]);
    EXPECT_EQ(sum, 0);
    FrameBuffer escaped{};
    EXPECT_EQ(escape(11, raw, escaped), 12u);
    EXPECT_EQ(escaped[9], 0x7E);
    EXPECT_EQ(escaped[10], 0x02);
    EXPECT_EQ(escaped[11], 0x7D);
}

TEST(Frame, AddressAndByteThreeAreNeverEscaped) {
    const FrameBuffer raw = frame_of({0x7C, 0x7C, 0x7F, 0x7E, 0x50, 0x01, 1, 2, 3, 4, 0x7D});
    FrameBuffer escaped{};
    EXPECT_EQ(escape(11, raw, escaped), 11u);
    EXPECT_EQ(first(escaped, 11), first(raw, 11));
}

TEST(Frame, BareFramePassesChecksumAndEscapeUnchanged) {
    FrameBuffer raw = frame_of({0x7C, 0x7C, 0x05, 0x00, 0x7D});
    const FrameBuffer before = raw;
    checksum(5, raw);
    EXPECT_EQ(raw, before);
    FrameBuffer escaped{}, back{};
    EXPECT_EQ(escape(5, raw, escaped), 5u);
    EXPECT_EQ(first(escaped, 5), first(raw, 5));
    EXPECT_EQ(unescape(escaped, back), 5u);
    EXPECT_EQ(first(back, 5), first(raw, 5));
}

TEST(Frame, UnescapeTakesAnyByteAfterTheEscape) {
    const FrameBuffer in = frame_of({0x7C, 0x7C, 0x01, 0x00, 0x7E, 0x05, 0x7E, 0xF0, 0x7D});
    FrameBuffer out{};
    ASSERT_EQ(unescape(in, out), 7u);
    EXPECT_EQ(out[4], 0x81);                             // 0x05 + 0x7C
    EXPECT_EQ(out[5], static_cast<std::uint8_t>(0x6C));  // (0xF0 + 0x7C) mod 256
    EXPECT_EQ(out[6], 0x7D);
}

struct NoTerminatorCase {
    std::vector<std::size_t> escape_positions;
    std::size_t expected_length;
};

class UnescapeWithoutTerminator : public ::testing::TestWithParam<NoTerminatorCase> {};

TEST_P(UnescapeWithoutTerminator, StopsAtTheScanLimit) {
    FrameBuffer in;
    in.fill(0x41);
    for (const std::size_t p : GetParam().escape_positions) {
        in[p] = 0x7E;
        in[p + 1] = 0x01;
    }
    FrameBuffer out{};
    EXPECT_EQ(unescape(in, out), GetParam().expected_length);
}

INSTANTIATE_TEST_SUITE_P(
    Frame, UnescapeWithoutTerminator,
    ::testing::Values(NoTerminatorCase{{}, 251}, NoTerminatorCase{{10}, 250},
                      NoTerminatorCase{{10, 20, 30}, 248},
                      // A pair starting at the last scanned index moves the stop to 251.
                      NoTerminatorCase{{249}, 251}, NoTerminatorCase{{10, 249}, 250}));

TEST(Frame, UnescapeStaysInsideItsBuffersForAnyInput) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        FrameBuffer in, out{};
        for (auto& b : in) b = static_cast<std::uint8_t>(0x7C + rng() % 4);  // framing bytes only
        in[4] = 0x7E;
        EXPECT_LE(unescape(in, out), max_unescaped_length);
    }
}

TEST(Frame, EscapeThenUnescapeGivesBackAnyRecordFrame) {
    std::mt19937 rng(11);
    for (int round = 0; round < 2000; ++round) {
        FrameBuffer raw{}, escaped{}, back{};
        raw[0] = raw[1] = frame_head;
        for (std::size_t i = 2; i < record_frame_length - 1; ++i)
            raw[i] = static_cast<std::uint8_t>(rng());
        raw[record_frame_length - 1] = frame_terminator;
        checksum(record_frame_length, raw);
        const std::size_t n = escape(record_frame_length, raw, escaped);
        ASSERT_LE(n, 149u);
        ASSERT_EQ(unescape(escaped, back), record_frame_length);
        EXPECT_EQ(first(back, record_frame_length), first(raw, record_frame_length));
    }
}

}  // namespace
}  // namespace ktnet
