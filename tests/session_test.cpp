// What the session makes of each kind of answer: which reads and stores it accepts, how often
// it asks again, and why it gives up.
#include "link/session.hpp"

#include <gtest/gtest.h>

#include "plu/plu_line.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using sim::FaultKind;
using Verdict = Answer::Verdict;

struct ReadCase {
    const char* what;
    std::vector<FaultKind> faults;  // on the first requests, in order
    sim::Quirks quirks;
    std::uint32_t plu;
    Verdict verdict;
    AnswerFault fault;
    unsigned requests;
    std::uint32_t record_plu;  // of the record taken, when one is
};

class SessionRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SessionRead, TakesOnlyARecordThatPassesOrThatTheScaleRepeats) {
    const ReadCase& c = GetParam();
    sim::SimulatedController controller;
    auto& records = controller.add_scale(testing::address("1S1")).records;
    records[5] = sim::empty_record(5);
    records[6] = sim::empty_record(6);
    records[6][10] = 'X';
    controller.set_quirks(c.quirks);
    for (std::size_t i = 0; i < c.faults.size(); ++i) controller.inject(i, {c.faults[i]});
    sim::SimPort port = sim::port_with_controller(controller);
    Session session(port, {.answer_timeout = std::chrono::milliseconds(20)});
    ASSERT_EQ(session.find_controller([](const auto&) {}).result, Discovery::Result::found);

    const RecordAnswer got = session.read_record(testing::address("1S1"), c.plu);
    EXPECT_EQ(got.answer.verdict, c.verdict);
    EXPECT_EQ(got.answer.fault, c.fault) << describe(got.answer.fault);
    EXPECT_EQ(got.answer.requests, c.requests);
    EXPECT_EQ(controller.exchanges(), c.requests);
    if (c.verdict == Verdict::accepted) {
        EXPECT_EQ(record_plu(got.record), c.record_plu);
    }
    EXPECT_TRUE(controller.violations().empty());
}

using F = FaultKind;
using A = AnswerFault;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, SessionRead,
    ::testing::Values(
        ReadCase{"clean",                  {},                 {}, 5, Verdict::accepted,  A::none,          1, 5},
        ReadCase{"wrong_plu_once",         {F::wrong_plu},     {}, 5, Verdict::accepted,  A::none,          2, 5},
        ReadCase{"bad_checksum_once",      {F::bad_checksum},  {}, 5, Verdict::accepted,  A::none,          2, 5},
        ReadCase{"stray_before_is_dropped", {F::stray},        {}, 5, Verdict::accepted,  A::none,          1, 5},
        ReadCase{"no_terminator_is_no_reason", {F::no_terminator}, {}, 5, Verdict::accepted, A::none,       1, 5},
        ReadCase{"the_same_wrong_record_twice_is_the_scales_own",
                 {F::wrong_plu, F::wrong_plu},                 {}, 5, Verdict::accepted,  A::none,          2, 6},
        ReadCase{"three_different_failures",
                 {F::bad_checksum, F::wrong_plu, F::bad_checksum},
                                                               {}, 5, Verdict::refused,   A::bad_checksum,  3, 0},
        ReadCase{"status_5",               {F::status5},       {}, 5, Verdict::refused,   A::status_5,      1, 0},
        ReadCase{"wrong_code",             {F::wrong_code},    {}, 5, Verdict::refused,   A::wrong_code,    1, 0},
        ReadCase{"garbage",                {F::garbage},       {}, 5, Verdict::refused,   A::wrong_head,    1, 0},
        ReadCase{"short",                  {F::short_answer},  {}, 5, Verdict::refused,   A::short_answer,  1, 0},
        ReadCase{"stall",                  {F::stall},         {}, 5, Verdict::no_answer, A::timed_out,     1, 0},
        ReadCase{"write_fails",            {F::failed_write},  {}, 5, Verdict::no_answer, A::write_failed,  1, 0},
        ReadCase{"quirk_unknown_plu_as_zero", {}, {.unknown_plu_as_zero = true},
                                                                   7, Verdict::accepted,  A::none,          2, 0},
        ReadCase{"quirk_unknown_plu_as_zero_known_plu", {}, {.unknown_plu_as_zero = true},
                                                                   6, Verdict::accepted,  A::none,          1, 6},
        ReadCase{"quirk_checksum_off_by_one", {}, {.checksum_off_by_one = true},
                                                                   5, Verdict::accepted,  A::none,          2, 5}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

struct StoreCase {
    const char* what;
    FaultKind fault;
    Verdict verdict;
    AnswerFault why;
    bool stored;
};

class SessionStore : public ::testing::TestWithParam<StoreCase> {};

TEST_P(SessionStore, AcceptsByStatusHeadAndCodeAlone) {
    sim::SimulatedController controller;
    auto& records = controller.add_scale(testing::address("2T3")).records;
    controller.inject(0, {GetParam().fault});
    sim::SimPort port = sim::port_with_controller(controller);
    Session session(port, {.answer_timeout = std::chrono::milliseconds(20)});
    ASSERT_EQ(session.find_controller([](const auto&) {}).result, Discovery::Result::found);
    RecordFrame record{};
    ASSERT_TRUE(parse_line("2 T 03 xx000042 STORED", record));
    const Answer got = session.store_record(testing::address("2T3"), record);
    EXPECT_EQ(got.verdict, GetParam().verdict);
    EXPECT_EQ(got.fault, GetParam().why);
    EXPECT_EQ(records.contains(42), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Session, SessionStore,
    ::testing::Values(StoreCase{"latency", F::latency, Verdict::accepted, A::none, true},
                      StoreCase{"bad_checksum_is_not_looked_at", F::bad_checksum, Verdict::accepted,
                                A::none, true},
                      StoreCase{"status_5", F::status5, Verdict::refused, A::status_5, false},
                      StoreCase{"wrong_code", F::wrong_code, Verdict::refused, A::wrong_code, true},
                      StoreCase{"stall", F::stall, Verdict::no_answer, A::timed_out, true},
                      StoreCase{"read_fails", F::failed_read, Verdict::no_answer, A::read_failed,
                                true}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace ktnet
