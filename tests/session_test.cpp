// What the session makes of each kind of answer: which reads and stores it accepts, how often
// it asks again, which ways of a scale it learns, and why it gives up.
#include "link/session.hpp"

#include <gtest/gtest.h>

#include "plu/plu_line.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using sim::FaultKind;
using Verdict = Answer::Verdict;
using namespace std::chrono_literals;

// A controller with 1S1 (PLUs 5 and 6), 1S2 (PLU 5, its own) and 2T3, and a session on it.
class SessionFixture {
protected:
    explicit SessionFixture(std::chrono::milliseconds timeout = 20ms) : session(port, {timeout}) {
        auto& records = controller.add_scale(testing::address("1S1")).records;
        records[5] = sim::empty_record(5);
        records[6] = sim::empty_record(6);
        records[6][10] = 'X';
        controller.add_scale(testing::address("1S2")).records[5] = sim::empty_record(5);
        controller.find_scale(testing::address("1S2"))->records[5][10] = 'Y';
        controller.add_scale(testing::address("2T3"));
        if (session.find_controller([](const auto&) {}).result != Discovery::Result::found)
            ADD_FAILURE() << "no controller";
    }

    static RecordFrame record_of(std::uint32_t plu) {
        RecordFrame record{};
        const sim::RecordBody body = sim::empty_record(plu);
        std::copy(body.begin(), body.end(), record.begin() + sim::record_body_offset);
        return record;
    }

    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    Session session;
};

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

class SessionRead : public SessionFixture, public ::testing::TestWithParam<ReadCase> {};

TEST_P(SessionRead, TakesOnlyARecordThatPassesOrThatTheScaleShowsAsItsOwn) {
    const ReadCase& c = GetParam();
    controller.set_quirks(c.quirks);
    for (std::size_t i = 0; i < c.faults.size(); ++i) controller.inject(i, {c.faults[i]});

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
        ReadCase{"wrong_address_once",     {F::wrong_address}, {}, 5, Verdict::accepted,  A::none,          2, 5},
        ReadCase{"stray_before_is_dropped", {F::stray},        {}, 5, Verdict::accepted,  A::none,          1, 5},
        ReadCase{"no_terminator_is_no_reason", {F::no_terminator}, {}, 5, Verdict::accepted, A::none,       1, 5},
        // Two equal wrong answers are one fault twice, not the scale's way.
        ReadCase{"bad_checksum_twice_then_clean", {F::bad_checksum, F::bad_checksum},
                                                               {}, 5, Verdict::accepted,  A::none,          3, 5},
        ReadCase{"wrong_plu_twice_then_clean", {F::wrong_plu, F::wrong_plu},
                                                               {}, 5, Verdict::accepted,  A::none,          3, 5},
        ReadCase{"four_failures_then_clean",
                 {F::bad_checksum, F::wrong_plu, F::wrong_address, F::bad_checksum},
                                                               {}, 5, Verdict::accepted,  A::none,          5, 5},
        ReadCase{"wrong_plu_at_every_request", std::vector<F>(record_requests, F::wrong_plu),
                                                               {}, 5, Verdict::refused,   A::wrong_plu,     5, 0},
        ReadCase{"bad_checksum_at_every_request", std::vector<F>(record_requests, F::bad_checksum),
                                                               {}, 5, Verdict::refused,   A::bad_checksum,  5, 0},
        ReadCase{"wrong_address_at_every_request", std::vector<F>(record_requests, F::wrong_address),
                                                               {}, 5, Verdict::refused,   A::wrong_address, 5, 0},
        ReadCase{"status_5",               {F::status5},       {}, 5, Verdict::refused,   A::status_5,      1, 0},
        ReadCase{"wrong_code",             {F::wrong_code},    {}, 5, Verdict::refused,   A::wrong_code,    1, 0},
        ReadCase{"garbage",                {F::garbage},       {}, 5, Verdict::refused,   A::wrong_head,    1, 0},
        ReadCase{"short",                  {F::short_answer},  {}, 5, Verdict::refused,   A::short_answer,  1, 0},
        ReadCase{"stall",                  {F::stall},         {}, 5, Verdict::no_answer, A::timed_out,     1, 0},
        ReadCase{"write_fails",            {F::failed_write},  {}, 5, Verdict::no_answer, A::write_failed,  1, 0},
        ReadCase{"highest_plu_a_request_carries", {},          {}, 65535, Verdict::accepted, A::none,       1, 65535},
        ReadCase{"plu_above_16_bits_is_never_sent", {},        {}, 70000, Verdict::refused, A::plu_out_of_range, 0, 0},
        // The first answer a scale gives its own way is taken once three agree.
        ReadCase{"quirk_unknown_plu_as_zero", {}, {.unknown_plu_as_zero = true},
                                                                   7, Verdict::accepted,  A::none,          3, 0},
        ReadCase{"quirk_unknown_plu_as_zero_known_plu", {}, {.unknown_plu_as_zero = true},
                                                                   6, Verdict::accepted,  A::none,          1, 6},
        ReadCase{"quirk_checksum_off_by_one", {}, {.checksum_off_by_one = true},
                                                                   5, Verdict::accepted,  A::none,          3, 5},
        ReadCase{"quirk_own_address", {}, {.own_address = true},   5, Verdict::accepted,  A::none,          3, 5},
        ReadCase{"two_faults_then_the_three_agreeing", {F::wrong_plu, F::wrong_plu}, {.own_address = true},
                                                                   5, Verdict::accepted,  A::none,          5, 5}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

// One operation of a run: a read or a store of a PLU on a scale, the requests it takes and
// why it is refused (none: it is accepted).
struct Step {
    bool store;
    const char* scale;
    std::uint32_t plu;
    unsigned requests;
    std::uint32_t record_plu = 0;  // reads: of the record taken
    AnswerFault fault = AnswerFault::none;
};

struct MemoryCase {
    const char* what;
    sim::Quirks quirks;
    std::vector<std::pair<std::size_t, FaultKind>> faults;  // by exchange
    std::vector<Step> steps;
};

class SessionQuirks : public SessionFixture, public ::testing::TestWithParam<MemoryCase> {};

// A scale's way, once shown, is taken at once for the rest of the session, from that scale
// alone and for that way alone.
TEST_P(SessionQuirks, AreLearnedOncePerScale) {
    controller.set_quirks(GetParam().quirks);
    for (const auto& [exchange, kind] : GetParam().faults) controller.inject(exchange, {kind});
    for (const Step& s : GetParam().steps) {
        const std::size_t before = controller.exchanges();
        if (s.store) {
            const Answer got = session.store_record(testing::address(s.scale), record_of(s.plu));
            EXPECT_EQ(got.fault, s.fault) << describe(got.fault);
            EXPECT_EQ(got.requests, s.requests) << s.scale << " store " << s.plu;
        } else {
            const RecordAnswer got = session.read_record(testing::address(s.scale), s.plu);
            EXPECT_EQ(got.answer.fault, s.fault) << describe(got.answer.fault);
            EXPECT_EQ(got.answer.requests, s.requests) << s.scale << " read " << s.plu;
            EXPECT_EQ(record_plu(got.record), s.record_plu);
        }
        EXPECT_EQ(controller.exchanges() - before, s.requests);
    }
    EXPECT_TRUE(controller.violations().empty());
}

constexpr bool read = false;
constexpr bool store = true;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, SessionQuirks,
    ::testing::Values(
        MemoryCase{"unknown_plu_as_zero", {.unknown_plu_as_zero = true}, {},
                   {{read, "1S1", 7, 3, 0}, {read, "1S1", 8, 1, 0}, {read, "1S2", 7, 3, 0},
                    {read, "1S1", 5, 1, 5}}},
        MemoryCase{"checksum_off_by_one", {.checksum_off_by_one = true}, {},
                   {{read, "1S1", 5, 3, 5}, {read, "1S1", 6, 1, 6}, {read, "1S2", 5, 3, 5}}},
        MemoryCase{"own_address", {.own_address = true}, {},
                   {{read, "1S1", 5, 3, 5}, {read, "1S1", 6, 1, 6}, {read, "1S2", 5, 3, 5},
                    {store, "1S1", 9, 1}}},
        MemoryCase{"own_address_learned_by_a_store", {.own_address = true}, {},
                   {{store, "2T3", 42, 3}, {store, "2T3", 43, 1}, {store, "1S1", 42, 3}}},
        MemoryCase{"every_way_at_once", {.unknown_plu_as_zero = true, .checksum_off_by_one = true,
                                         .own_address = true}, {},
                   {{read, "1S1", 7, 3, 0}, {read, "1S1", 8, 1, 0}, {read, "1S1", 5, 1, 5}}},
        // Another scale's address, or another PLU, is asked again however the scale answers.
        MemoryCase{"a_learned_address_is_that_address_alone", {.own_address = true},
                   {{3, F::wrong_address}},
                   {{read, "1S1", 5, 3, 5}, {read, "1S1", 6, 2, 6}}},
        MemoryCase{"a_learned_plu_zero_excuses_no_other_plu", {.unknown_plu_as_zero = true},
                   {{3, F::wrong_plu}},
                   {{read, "1S1", 7, 3, 0}, {read, "1S1", 5, 2, 5}}},
        // A refusal names what the scale's known ways do not explain.
        MemoryCase{"a_refusal_names_the_fault_not_the_known_way", {.own_address = true},
                   {{3, F::wrong_plu}, {4, F::wrong_plu}, {5, F::wrong_plu}, {6, F::wrong_plu},
                    {7, F::wrong_plu}},
                   {{read, "1S1", 5, 3, 5}, {read, "1S1", 5, 5, 0, A::wrong_plu}}}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

struct StoreCase {
    const char* what;
    std::vector<FaultKind> faults;  // on the first requests, in order
    Verdict verdict;
    AnswerFault why;
    unsigned requests;
    bool stored;
};

class SessionStore : public SessionFixture, public ::testing::TestWithParam<StoreCase> {};

TEST_P(SessionStore, AcceptsByStatusHeadCodeAndAddress) {
    const StoreCase& c = GetParam();
    for (std::size_t i = 0; i < c.faults.size(); ++i) controller.inject(i, {c.faults[i]});
    RecordFrame record{};
    ASSERT_TRUE(parse_line("2 T 03 xx000042 STORED", record));
    const Answer got = session.store_record(testing::address("2T3"), record);
    EXPECT_EQ(got.verdict, c.verdict);
    EXPECT_EQ(got.fault, c.why);
    EXPECT_EQ(got.requests, c.requests);
    EXPECT_EQ(controller.exchanges(), c.requests);
    EXPECT_EQ(controller.find_scale(testing::address("2T3"))->records.contains(42), c.stored);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, SessionStore,
    ::testing::Values(
        StoreCase{"latency",       {F::latency},       Verdict::accepted,  A::none,          1, true},
        StoreCase{"bad_checksum_is_not_looked_at", {F::bad_checksum}, Verdict::accepted, A::none, 1, true},
        StoreCase{"wrong_address_is_sent_again", {F::wrong_address}, Verdict::accepted, A::none, 2, true},
        StoreCase{"wrong_address_at_every_request", std::vector<F>(record_requests, F::wrong_address),
                                                       Verdict::refused,   A::wrong_address, 5, true},
        StoreCase{"status_5",      {F::status5},       Verdict::refused,   A::status_5,      1, false},
        StoreCase{"wrong_code",    {F::wrong_code},    Verdict::refused,   A::wrong_code,    1, true},
        StoreCase{"stall",         {F::stall},         Verdict::no_answer, A::timed_out,     1, true},
        StoreCase{"read_fails",    {F::failed_read},   Verdict::no_answer, A::read_failed,   1, true}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

// An answer later than the time-out is waited for before the next request and dropped: it is
// never taken for the next answer, even of another scale or another store.
class SessionLateAnswer : public SessionFixture, public ::testing::Test {
protected:
    SessionLateAnswer() : SessionFixture(40ms) { controller.inject(0, {F::latency, 60ms}); }
};

TEST_F(SessionLateAnswer, IsNotTheNextScalesRecord) {
    EXPECT_EQ(session.read_record(testing::address("1S1"), 5).answer.fault, A::timed_out);
    const RecordAnswer next = session.read_record(testing::address("1S2"), 5);
    ASSERT_TRUE(next.answer.accepted()) << describe(next.answer.fault);
    EXPECT_EQ(next.answer.requests, 1u);
    const auto& own = controller.find_scale(testing::address("1S2"))->records[5];
    EXPECT_TRUE(std::equal(own.begin(), own.end(), next.record.begin() + sim::record_body_offset));
}

TEST_F(SessionLateAnswer, IsNotTheNextStoresAcknowledgement) {
    controller.inject(1, {F::status5});
    EXPECT_EQ(session.store_record(testing::address("2T3"), record_of(42)).fault, A::timed_out);
    const Answer next = session.store_record(testing::address("2T3"), record_of(43));
    EXPECT_EQ(next.fault, A::status_5);
    EXPECT_FALSE(controller.find_scale(testing::address("2T3"))->records.contains(43));
}

}  // namespace
}  // namespace ktnet
