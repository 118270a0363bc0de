#include "link/controller_link.hpp"

#include <gtest/gtest.h>

#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using sim::SimPort;
using sim::SimulatedController;
using namespace std::chrono_literals;

// One HID device of a test's list; controller 0 or 1 names one of the test's two
// controllers, -1 a plain device.
struct DeviceSpec {
    const wchar_t* product;
    int controller = -1;
    bool openable = true;
    bool readable = true;
    bool named = true;
};

struct DiscoveryCase {
    const char* what;
    std::vector<DeviceSpec> devices;
    bool list_fails;
    Discovery::Result result;
    std::string events;    // the events' kinds in order, one letter each (see letter())
    int controller_index;  // which of the two controllers gets the traffic, -1 for none
};

char letter(DiscoveryEvent::Kind kind) {
    switch (kind) {
        case DiscoveryEvent::Kind::no_hid_list:
            return 'L';
        case DiscoveryEvent::Kind::no_system_name:
            return 'N';
        case DiscoveryEvent::Kind::device_not_opened:
            return 'o';
        case DiscoveryEvent::Kind::controller_found:
            return 'F';
        case DiscoveryEvent::Kind::controller_held:
            return 'H';
    }
    return '?';
}

class Discovery_ : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery_, FindsAndClaimsTheFirstControllerAndReportsWhatItMet) {
    SimulatedController controllers[2];
    SimPort port;
    port.list_fails = GetParam().list_fails;
    for (const DeviceSpec& d : GetParam().devices) {
        port.devices.push_back({d.product, d.openable, d.readable, d.named,
                                d.controller >= 0 ? &controllers[d.controller] : nullptr});
    }
    ControllerLink link(port, 20ms, [] { return false; });
    std::string events;
    const Discovery found = link.find_controller([&](const DiscoveryEvent& e) {
        events += letter(e.kind);
        if (e.kind != DiscoveryEvent::Kind::controller_found) {
            EXPECT_FALSE(e.error.message.empty()) << "every failure keeps its reason";
        }
    });
    EXPECT_EQ(found.result, GetParam().result);
    EXPECT_EQ(events, GetParam().events);
    const bool has = found.result == Discovery::Result::found;
    EXPECT_EQ(port.open_devices(), has ? 1 : 0);  // mismatches are closed

    FrameBuffer raw{}, escaped{}, answer{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    EXPECT_EQ(link.exchange(route_opening, escaped, answer).kind,
              has ? Exchange::Kind::answered : Exchange::Kind::no_controller);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(controllers[i].exchanges(), i == GetParam().controller_index ? 1u : 0u) << i;
    }
}

DeviceSpec device(const wchar_t* product, int controller = -1, bool openable = true,
                  bool readable = true, bool named = true) {
    return {product, controller, openable, readable, named};
}

std::vector<DeviceSpec> mice(int count) {
    return std::vector<DeviceSpec>(static_cast<std::size_t>(count), device(L"USB Mouse"));
}

std::vector<DeviceSpec> plus(std::vector<DeviceSpec> a, std::vector<DeviceSpec> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using R = Discovery::Result;

INSTANTIATE_TEST_SUITE_P(
    ControllerLink, Discovery_,
    ::testing::Values(
        DiscoveryCase{
            "only_controller", {device(L"KT-NET CONTROLLER", 0)}, false, R::found, "F", 0},
        DiscoveryCase{
            "longer_product_matches", {device(L"KT-NET CONTROLLER 2", 0)}, false, R::found, "F", 0},
        DiscoveryCase{"prefix_too_short", {device(L"KT-NET CONTROL", 0)}, false, R::none, "", -1},
        DiscoveryCase{"high_bytes_ignored",
                      {device(L"\x14B\x154-NET CONTROLLER", 0)},
                      false,
                      R::found,
                      "F",
                      0},
        DiscoveryCase{
            "lower_case_differs", {device(L"kt-net controller", 0)}, false, R::none, "", -1},
        DiscoveryCase{"unopenable_first",
                      {device(L"Keyboard", -1, false), device(L"KT-NET CONTROLLER", 0)},
                      false,
                      R::found,
                      "oF",
                      0},
        DiscoveryCase{"unreadable_product",
                      {device(L"KT-NET CONTROLLER", 0, true, false)},
                      false,
                      R::none,
                      "",
                      -1},
        DiscoveryCase{
            "two_controllers_first_wins",
            {device(L"Mouse"), device(L"KT-NET CONTROLLER", 1), device(L"KT-NET CONTROLLER", 0)},
            false,
            R::found,
            "F",
            1},
        DiscoveryCase{"index_19_found", plus(mice(19), {device(L"KT-NET CONTROLLER", 0)}), false,
                      R::found, "F", 0},
        DiscoveryCase{"index_20_never_found", plus(mice(20), {device(L"KT-NET CONTROLLER", 0)}),
                      false, R::none, "", -1},
        DiscoveryCase{"no_devices", {}, false, R::none, "", -1},
        DiscoveryCase{"no_hid_list", {device(L"KT-NET CONTROLLER", 0)}, true, R::none, "L", -1},
        DiscoveryCase{"no_system_name_ends_search",
                      {device(L"Mouse", -1, true, true, false), device(L"KT-NET CONTROLLER", 0)},
                      false,
                      R::none,
                      "N",
                      -1}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(ControllerClaim, SecondRunFindsTheControllerHeldUntilTheFirstCloses) {
    SimulatedController controller;
    SimPort port = sim::port_with_controller(controller);
    std::string seen;
    const auto observe = [&](const DiscoveryEvent& e) { seen += letter(e.kind); };
    auto first = std::make_unique<ControllerLink>(port, 20ms, [] { return false; });
    ASSERT_EQ(first->find_controller(observe).result, R::found);
    ControllerLink second(port, 20ms, [] { return false; });
    EXPECT_EQ(second.find_controller(observe).result, R::held);
    EXPECT_FALSE(second.has_controller());
    first.reset();
    EXPECT_EQ(second.find_controller(observe).result, R::found);
    EXPECT_EQ(seen, "FHF");
}

class LinkExchange : public ::testing::Test {
protected:
    SimulatedController controller;
    SimPort port = sim::port_with_controller(controller);
    ControllerLink link{port, 50ms, [] { return false; }};
    FrameBuffer raw{}, escaped{}, answer{};

    void SetUp() override {
        controller.add_scale(testing::address("1S1"));
        ASSERT_EQ(link.find_controller([](const auto&) {}).result, R::found);
        build_opening_frame(raw);
        checksum(short_frame_length, raw);
        escape(short_frame_length, raw, escaped);
    }
};

TEST_F(LinkExchange, ReportCarriesRouteAndTheFirst253BytesOfTheBufferWithLeftovers) {
    // A long frame first, then a short one in the same buffer.
    escaped.fill(0);
    for (std::size_t i = 0; i < 160; ++i) escaped[i] = static_cast<std::uint8_t>(i);
    (void)link.exchange(0, escaped, answer);

    raw = testing::frame_of({0x7C, 0x7C, 0x81, 0x00, 0x50, 0x01, 0x05, 0x00, 0x00, 0x00, 0x7D});
    checksum(11, raw);
    escape(11, raw, escaped);
    ASSERT_EQ(link.exchange(0, escaped, answer).kind, Exchange::Kind::answered);
    const Report& sent = controller.last_report();
    EXPECT_EQ(sent[0], 0);
    EXPECT_EQ(sent[1], 0);
    for (std::size_t i = 0; i < 253; ++i) ASSERT_EQ(sent[i + 2], escaped[i]) << i;
    EXPECT_EQ(sent[2 + 11], 11);  // a leftover of the longer frame
    EXPECT_TRUE(controller.violations().size() == 1) << "only the junk first frame is a violation";
}

struct FailureCase {
    const char* what;
    sim::FaultKind fault;
    Exchange::Kind kind;
};

class LinkFailure : public LinkExchange, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LinkFailure, LeavesTheAnswerUntouchedAndSaysWhy) {
    controller.inject(0, {GetParam().fault});
    answer.fill(0xEE);
    const Exchange done = link.exchange(route_opening, escaped, answer);
    EXPECT_EQ(done.kind, GetParam().kind);
    for (const auto b : answer) ASSERT_EQ(b, 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    ControllerLink, LinkFailure,
    ::testing::Values(FailureCase{"write", sim::FaultKind::failed_write,
                                  Exchange::Kind::write_failed},
                      FailureCase{"read", sim::FaultKind::failed_read, Exchange::Kind::read_failed},
                      FailureCase{"stall", sim::FaultKind::stall, Exchange::Kind::timed_out}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(LinkExchange, AnAnswerIsAlwaysReadAfterItsOwnRequest) {
    controller.inject(0, {sim::FaultKind::stray});  // the opening answer comes twice
    ASSERT_EQ(link.exchange(route_opening, escaped, answer).kind, Exchange::Kind::answered);
    raw = testing::frame_of({0x7C, 0x7C, 0x81, 0x00, 0x50, 0x01, 0x05, 0x00, 0x00, 0x00, 0x7D});
    checksum(11, raw);
    escape(11, raw, escaped);
    ASSERT_EQ(link.exchange(0, escaped, answer).kind, Exchange::Kind::answered);
    EXPECT_EQ(answer[command_index], answer_plu);  // not the opening's second copy
}

// An answer given up on is waited for once more before the next request, and dropped; a stop
// request in that wait ends the exchange before anything is sent.
class LinkAfterTimeOut : public ::testing::TestWithParam<bool> {};

TEST_P(LinkAfterTimeOut, DropsTheLateAnswerBeforeTheNextRequest) {
    SimulatedController controller;
    controller.add_scale(testing::address("1S1"));
    SimPort port = sim::port_with_controller(controller);
    bool stop = false;
    ControllerLink link(port, 50ms, [&stop] { return stop; });
    ASSERT_EQ(link.find_controller([](const auto&) {}).result, R::found);
    controller.inject(0, {sim::FaultKind::latency, 70ms});
    FrameBuffer raw{}, escaped{}, answer{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    ASSERT_EQ(link.exchange(route_opening, escaped, answer).kind, Exchange::Kind::timed_out);

    stop = GetParam();
    raw = testing::frame_of({0x7C, 0x7C, 0x81, 0x00, 0x50, 0x01, 0x05, 0x00, 0x00, 0x00, 0x7D});
    checksum(11, raw);
    escape(11, raw, escaped);
    const Exchange next = link.exchange(0, escaped, answer);
    EXPECT_EQ(controller.exchanges(), stop ? 1u : 2u);
    if (stop) {
        EXPECT_EQ(next.kind, Exchange::Kind::interrupted);
    } else {
        ASSERT_EQ(next.kind, Exchange::Kind::answered);
        EXPECT_EQ(answer[command_index], answer_plu);  // not the opening's late answer
    }
}

INSTANTIATE_TEST_SUITE_P(ControllerLink, LinkAfterTimeOut, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "stop_requested" : "answered"; });

TEST(LinkStop, AStopRequestEndsAWaitThatDragsOn) {
    SimulatedController controller;
    SimPort port = sim::port_with_controller(controller);
    ControllerLink link(port, 10s, [] { return true; });
    ASSERT_EQ(link.find_controller([](const auto&) {}).result, R::found);
    controller.inject(0, {sim::FaultKind::stall});
    FrameBuffer raw{}, escaped{}, answer{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.exchange(route_opening, escaped, answer).kind, Exchange::Kind::interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace ktnet
