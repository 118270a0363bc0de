// The hidapi port against a fake of the few hidapi calls it makes: how reports map onto
// hid_write and hid_read, and how the enumeration becomes the interface list.
#include "link/hidapi_port.hpp"

#include <gtest/gtest.h>
#include <hidapi.h>

#include <cerrno>
#include <vector>

#include "test_support.hpp"

namespace ktnet {
namespace {

// What the fake library saw and will answer. The calls are plain function pointers, so the
// fake keeps its state here; each test starts by resetting it.
struct FakeHidapi {
    int init_result = 0;
    int inits = 0, exits = 0, frees = 0, closes = 0;
    std::vector<hid_device_info> devices;
    std::vector<std::string> opened;
    std::vector<std::vector<unsigned char>> written;
    std::size_t read_length = 0;
    std::vector<int> read_timeouts;  // the time each read was given
    int read_result = 254;
    int pending = 0;  // reports waiting before the read_result one
    int write_result = 255;
    std::vector<unsigned char> input;  // what a read delivers
};
FakeHidapi fake;
hid_device_* const fake_handle = reinterpret_cast<hid_device_*>(0x1234);

const HidapiCalls fake_calls = {
    [] {
        ++fake.inits;
        return fake.init_result;
    },
    [] {
        ++fake.exits;
        return 0;
    },
    [](unsigned short, unsigned short) -> hid_device_info* {
        if (fake.devices.empty()) return nullptr;
        for (std::size_t i = 0; i + 1 < fake.devices.size(); ++i)
            fake.devices[i].next = &fake.devices[i + 1];
        fake.devices.back().next = nullptr;
        return fake.devices.data();
    },
    [](hid_device_info*) { ++fake.frees; },
    [](const char* path) -> hid_device_* {
        fake.opened.emplace_back(path);
        if (!std::string_view(path).starts_with("/dev/locked")) return fake_handle;
        errno = EACCES;
        return nullptr;
    },
    [](hid_device_*, const unsigned char* data, std::size_t length) {
        fake.written.emplace_back(data, data + length);
        return fake.write_result;
    },
    [](hid_device_*, unsigned char* data, std::size_t length, int milliseconds) {
        fake.read_length = length;
        fake.read_timeouts.push_back(milliseconds);
        std::copy(fake.input.begin(), fake.input.end(), data);
        if (fake.pending > 0) return --fake.pending, 254;
        if (fake.read_result < 0) errno = ENODEV;
        return fake.read_result;
    },
    [](hid_device_*) { ++fake.closes; },
    [](hid_device_* device) -> const wchar_t* {
        return device ? L"device error" : L"library error";
    },
};

hid_device_info entry(const char* path, const wchar_t* product) {
    hid_device_info d{};
    d.path = const_cast<char*>(path);
    d.product_string = const_cast<wchar_t*>(product);
    return d;
}

class HidapiPortTest : public ::testing::Test {
protected:
    void SetUp() override { fake = FakeHidapi{}; }
};

TEST_F(HidapiPortTest, ListFollowsTheEnumerationWithItsProductStrings) {
    fake.devices = {entry("/dev/hidraw0", L"Mouse"), entry("/dev/hidraw1", nullptr),
                    entry("/dev/hidraw2", L"KT-NET CONTROLLER")};
    {
        HidapiPort port(fake_calls);
        auto list = port.list_interfaces();
        ASSERT_TRUE(list);
        EXPECT_EQ(fake.frees, 1);
        EXPECT_EQ((*list)->lookup(2).kind, HidInterfaceList::Lookup::Kind::present);
        EXPECT_EQ((*list)->lookup(2).path, "/dev/hidraw2");
        EXPECT_EQ((*list)->lookup(3).kind, HidInterfaceList::Lookup::Kind::absent);
        auto unnamed = (*list)->open(1);
        ASSERT_TRUE(unnamed);
        EXPECT_FALSE((*unnamed)->product_string());
        auto controller = (*list)->open(2);
        ASSERT_TRUE(controller);
        EXPECT_EQ((*controller)->product_string(), L"KT-NET CONTROLLER");
        EXPECT_EQ(fake.opened, (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2"}));
    }
    EXPECT_EQ(fake.closes, 2);
    EXPECT_EQ(fake.exits, 1);
}

TEST_F(HidapiPortTest, NoDevicesIsAnEmptyListButAFailedInitIsNoList) {
    HidapiPort port(fake_calls);
    auto list = port.list_interfaces();
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)->lookup(0).kind, HidInterfaceList::Lookup::Kind::absent);

    fake.init_result = -1;
    HidapiPort broken(fake_calls);
    const auto none = broken.list_interfaces();
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().message, "library error");
}

TEST_F(HidapiPortTest, DeviceThatWillNotOpenSaysWhy) {
    fake.devices = {entry("/dev/locked0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    const auto device = (*port.list_interfaces())->open(0);
    ASSERT_FALSE(device);
    EXPECT_EQ(device.error().kind, PortError::Kind::permission_denied);
    EXPECT_EQ(device.error().system_code, EACCES);
    EXPECT_EQ(device.error().message, "library error");
}

// The claim is an exclusive lock on the device node, which any file can stand in for.
TEST_F(HidapiPortTest, ClaimHoldsTheNodeUntilTheDeviceCloses) {
    testing::ScratchDir dir;
    const std::string node = (dir / "hidraw0").string();
    testing::write_bytes(node, "");
    fake.devices = {entry(node.c_str(), L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    auto list = port.list_interfaces();
    auto first = (*list)->open(0);
    auto second = (*list)->open(0);
    ASSERT_TRUE((*first)->claim());
    const auto refused = (*second)->claim();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, PortError::Kind::busy);
    first = PortResult<std::unique_ptr<HidDevice>>(PortError{});  // closes the first device
    EXPECT_TRUE((*second)->claim());
}

TEST_F(HidapiPortTest, DiscardReadsWithoutWaitingUntilNothingIsLeft) {
    fake.devices = {entry("/dev/hidraw0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    auto device = (*port.list_interfaces())->open(0);
    fake.pending = 3;
    fake.read_result = 0;
    ASSERT_TRUE((*device)->discard_pending());
    EXPECT_EQ(fake.read_timeouts, (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(HidapiPortTest, WriteSendsTheWholeReportReportNumberFirst) {
    fake.devices = {entry("/dev/hidraw0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    auto opened = (*port.list_interfaces())->open(0);
    auto& device = *opened;
    Report out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i);
    out[0] = 0;
    ASSERT_TRUE(device->write_report(out));
    ASSERT_EQ(fake.written.size(), 1u);
    EXPECT_EQ(fake.written[0], std::vector<unsigned char>(out.begin(), out.end()));
    fake.write_result = -1;
    EXPECT_FALSE(device->write_report(out));
}

TEST_F(HidapiPortTest, ReadPlacesTheStatusByteAtIndexOne) {
    fake.devices = {entry("/dev/hidraw0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    auto opened = (*port.list_interfaces())->open(0);
    auto& device = *opened;
    fake.input.assign(254, 0x41);
    fake.input[0] = 0x07;  // status
    fake.input[1] = 0x7C;  // first frame byte
    Report in;
    in.fill(' ');
    const auto got = device->read_report(in, std::chrono::milliseconds(100));
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, ReadOutcome::received);
    EXPECT_EQ(fake.read_timeouts, std::vector<int>{100});
    EXPECT_EQ(fake.read_length, 254u);
    EXPECT_EQ(in[0], 0);
    EXPECT_EQ(in[1], 0x07);
    EXPECT_EQ(in[2], 0x7C);
    EXPECT_EQ(in[254], 0x41);

    fake.read_result = 0;
    EXPECT_EQ(*device->read_report(in, std::chrono::milliseconds(5)), ReadOutcome::timed_out);
    fake.read_result = -1;  // unplugged
    const auto gone = device->read_report(in, std::chrono::milliseconds(5));
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().kind, PortError::Kind::gone);
}

}  // namespace
}  // namespace ktnet
