// The hidapi port against a fake of the few hidapi calls it makes: how reports map onto
// hid_write and hid_read, and how the enumeration becomes the interface list.
#include "link/hidapi_port.hpp"

#include <gtest/gtest.h>
#include <hidapi.h>

#include <vector>

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
    int read_result = 254;
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
        return std::string_view(path).starts_with("/dev/locked") ? nullptr : fake_handle;
    },
    [](hid_device_*, const unsigned char* data, std::size_t length) {
        fake.written.emplace_back(data, data + length);
        return fake.write_result;
    },
    [](hid_device_*, unsigned char* data, std::size_t length) {
        fake.read_length = length;
        std::copy(fake.input.begin(), fake.input.end(), data);
        return fake.read_result;
    },
    [](hid_device_*) { ++fake.closes; },
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
        EXPECT_EQ(list->lookup(2), HidInterfaceList::Lookup::present);
        EXPECT_EQ(list->lookup(3), HidInterfaceList::Lookup::absent);
        auto unnamed = list->open(1);
        ASSERT_TRUE(unnamed);
        EXPECT_FALSE(unnamed->product_string());
        auto controller = list->open(2);
        ASSERT_TRUE(controller);
        EXPECT_EQ(controller->product_string(), L"KT-NET CONTROLLER");
        EXPECT_EQ(fake.opened, (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2"}));
    }
    EXPECT_EQ(fake.closes, 2);
    EXPECT_EQ(fake.exits, 1);
}

TEST_F(HidapiPortTest, NoDevicesIsAnEmptyListButAFailedInitIsNoList) {
    HidapiPort port(fake_calls);
    auto list = port.list_interfaces();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->lookup(0), HidInterfaceList::Lookup::absent);

    fake.init_result = -1;
    HidapiPort broken(fake_calls);
    EXPECT_FALSE(broken.list_interfaces());
}

TEST_F(HidapiPortTest, DeviceThatWillNotOpenGivesNoDevice) {
    fake.devices = {entry("/dev/locked0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    EXPECT_FALSE(port.list_interfaces()->open(0));
}

TEST_F(HidapiPortTest, WriteSendsTheWholeReportReportNumberFirst) {
    fake.devices = {entry("/dev/hidraw0", L"KT-NET CONTROLLER")};
    HidapiPort port(fake_calls);
    auto device = port.list_interfaces()->open(0);
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
    auto device = port.list_interfaces()->open(0);
    fake.input.assign(254, 0x41);
    fake.input[0] = 0x07;  // status
    fake.input[1] = 0x7C;  // first frame byte
    Report in;
    in.fill(' ');
    ASSERT_TRUE(device->read_report(in));
    EXPECT_EQ(fake.read_length, 254u);
    EXPECT_EQ(in[0], 0);
    EXPECT_EQ(in[1], 0x07);
    EXPECT_EQ(in[2], 0x7C);
    EXPECT_EQ(in[254], 0x41);

    fake.read_result = -1;  // unplugged
    EXPECT_FALSE(device->read_report(in));
}

}  // namespace
}  // namespace ktnet
