#include "link/controller_link.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using sim::SimPort;
using sim::SimulatedController;

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
    bool found;
    std::string messages;
    int controller_index;  // which of the two controllers gets the traffic, -1 for none
};

class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, FindsTheFirstControllerAndSaysWhatItSaw) {
    SimulatedController controllers[2];
    SimPort port;
    port.list_fails = GetParam().list_fails;
    for (const DeviceSpec& d : GetParam().devices) {
        port.devices.push_back({d.product, d.openable, d.readable, d.named,
                                d.controller >= 0 ? &controllers[d.controller] : nullptr});
    }
    std::ostringstream console;
    ControllerLink link(port, console);
    EXPECT_EQ(link.find_controller(), GetParam().found);
    EXPECT_EQ(console.str(), GetParam().messages);
    EXPECT_EQ(port.open_devices(), GetParam().found ? 1 : 0);  // mismatches are closed

    FrameBuffer raw{}, escaped{}, answer{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    const auto status = link.exchange(route_opening, escaped, answer);
    EXPECT_EQ(status.has_value(), GetParam().found);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(controllers[i].exchanges(), i == GetParam().controller_index ? 1u : 0u) << i;
    }
}

DeviceSpec device(const wchar_t* product, int controller = -1, bool openable = true,
                  bool readable = true, bool named = true) {
    return {product, controller, openable, readable, named};
}

const std::string found = "wykryto urzadzenie kt-net\n";
const std::string other = "wykryto urzadzenie hid inne niz kt-net\n";

std::vector<DeviceSpec> mice(int count) {
    return std::vector<DeviceSpec>(static_cast<std::size_t>(count), device(L"USB Mouse"));
}

std::vector<DeviceSpec> plus(std::vector<DeviceSpec> a, std::vector<DeviceSpec> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    ControllerLink, Discovery,
    ::testing::Values(
        DiscoveryCase{"only_controller", {device(L"KT-NET CONTROLLER", 0)}, false, true, found, 0},
        DiscoveryCase{
            "longer_product_matches", {device(L"KT-NET CONTROLLER 2", 0)}, false, true, found, 0},
        DiscoveryCase{"prefix_too_short", {device(L"KT-NET CONTROL", 0)}, false, false, "", -1},
        DiscoveryCase{
            "high_bytes_ignored", {device(L"\x14B\x154-NET CONTROLLER", 0)}, false, true, found, 0},
        DiscoveryCase{
            "lower_case_differs", {device(L"kt-net controller", 0)}, false, false, "", -1},
        DiscoveryCase{"unopenable_first",
                      {device(L"Keyboard", -1, false), device(L"KT-NET CONTROLLER", 0)},
                      false,
                      true,
                      other + found,
                      0},
        DiscoveryCase{"unreadable_product",
                      {device(L"KT-NET CONTROLLER", 0, true, false)},
                      false,
                      false,
                      "",
                      -1},
        DiscoveryCase{
            "two_controllers_first_wins",
            {device(L"Mouse"), device(L"KT-NET CONTROLLER", 1), device(L"KT-NET CONTROLLER", 0)},
            false,
            true,
            found,
            1},
        DiscoveryCase{"index_19_found", plus(mice(19), {device(L"KT-NET CONTROLLER", 0)}), false,
                      true, found, 0},
        DiscoveryCase{"index_20_never_found", plus(mice(20), {device(L"KT-NET CONTROLLER", 0)}),
                      false, false, "", -1},
        DiscoveryCase{"no_devices", {}, false, false, "", -1},
        DiscoveryCase{"no_hid_list",
                      {device(L"KT-NET CONTROLLER", 0)},
                      true,
                      false,
                      "Could not attach to PnP node",
                      -1},
        DiscoveryCase{"no_system_name_ends_search",
                      {device(L"Mouse", -1, true, true, false), device(L"KT-NET CONTROLLER", 0)},
                      false,
                      false,
                      "Could not find the system name for this Device\n",
                      -1}),
    [](const auto& p) { return std::string(p.param.what); });

class Exchange : public ::testing::Test {
protected:
    SimulatedController controller;
    SimPort port = sim::port_with_controller(controller);
    std::ostringstream console;
    ControllerLink link{port, console};

    void SetUp() override {
        controller.add_scale(testing::address("1S1"));
        ASSERT_TRUE(link.find_controller());
    }
};

TEST_F(Exchange, ReportCarriesRouteAndTheFirst253BytesOfTheBufferWithLeftovers) {
    FrameBuffer raw{}, escaped{}, answer{};
    // A long frame first, then a short one in the same buffer.
    escaped.fill(0);
    for (std::size_t i = 0; i < 160; ++i) escaped[i] = static_cast<std::uint8_t>(i);
    link.exchange(0, escaped, answer);

    const FrameBuffer request =
        testing::frame_of({0x7C, 0x7C, 0x81, 0x00, 0x50, 0x01, 0x05, 0x00, 0x00, 0x00, 0x7D});
    raw = request;
    checksum(11, raw);
    escape(11, raw, escaped);
    ASSERT_TRUE(link.exchange(0, escaped, answer));
    const Report& sent = controller.last_report();
    EXPECT_EQ(sent[0], 0);
    EXPECT_EQ(sent[1], 0);
    for (std::size_t i = 0; i < 253; ++i) ASSERT_EQ(sent[i + 2], escaped[i]) << i;
    EXPECT_EQ(sent[2 + 11], 11);  // a leftover of the longer frame
    EXPECT_TRUE(controller.violations().size() == 1) << "only the junk first frame is a violation";
}

TEST_F(Exchange, AnswerIsUntouchedWhenTheWriteOrReadFails) {
    for (const auto kind : {sim::FaultKind::failed_write, sim::FaultKind::failed_read}) {
        controller.inject(controller.exchanges(), {kind});
        FrameBuffer raw{}, escaped{}, answer;
        answer.fill(0xEE);
        build_opening_frame(raw);
        checksum(11, raw);
        escape(11, raw, escaped);
        EXPECT_FALSE(link.exchange(route_opening, escaped, answer).has_value());
        for (const auto b : answer) ASSERT_EQ(b, 0xEE);
    }
}

TEST_F(Exchange, StatusOtherThanFiveCountsAsAnswered) {
    EXPECT_TRUE(answered(std::uint8_t{0}));
    EXPECT_TRUE(answered(std::uint8_t{4}));
    EXPECT_TRUE(answered(std::uint8_t{0xFF}));
    EXPECT_FALSE(answered(std::uint8_t{5}));
    EXPECT_FALSE(answered(std::nullopt));
}

TEST(ExchangeWithoutController, FailsWithoutTouchingTheAnswer) {
    SimPort port;
    std::ostringstream console;
    ControllerLink link(port, console);
    EXPECT_FALSE(link.find_controller());
    FrameBuffer escaped{}, answer;
    answer.fill(1);
    EXPECT_FALSE(link.exchange(0, escaped, answer).has_value());
    EXPECT_EQ(answer[0], 1);
}

}  // namespace
}  // namespace ktnet
