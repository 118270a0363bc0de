#include "hidraw_testbed.hpp"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "pty_readiness.hpp"

namespace ktnet::emu {

namespace {

// Vendor page 0xFF00: one 254-byte input report and one 254-byte output report, no report
// numbers, so that each report is 255 bytes with its report-number byte, as the controller's.
constexpr std::array<std::uint8_t, 25> report_descriptor = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8 bits
    0x96, 0xFE, 0x00,  //   report count 254
    0x81, 0x02,        //   input (data, variable, absolute)
    0x96, 0xFE, 0x00,  //   report count 254
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

template <typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

struct GFreeDeleter {
    void operator()(gchar* s) const { g_free(s); }
};
using GString_ = std::unique_ptr<gchar, GFreeDeleter>;

std::string take_error(GError* e) {
    std::string message = e ? e->message : "unknown error";
    if (e) g_error_free(e);
    return message;
}

void answer_ioctl(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* size = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
        if (!size) {
            take_error(error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        int n = static_cast<int>(report_descriptor.size());
        umockdev_ioctl_data_update(size, 0, reinterpret_cast<guint8*>(&n), sizeof n);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* desc =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error);
        if (!desc) {
            take_error(error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        hidraw_report_descriptor d{};
        d.size = static_cast<__u32>(report_descriptor.size());
        std::memcpy(d.value, report_descriptor.data(), report_descriptor.size());
        umockdev_ioctl_data_update(desc, 0, reinterpret_cast<guint8*>(&d), sizeof d);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
}

// How often the opens of a node are looked at for closed ones.
constexpr guint close_check_ms = 20;

// What umockdev's calls for one device node reach. Each signal connection and the watch over
// the node's opens hold a share, so it lives for as long as umockdev may still call.
struct Device {
    explicit Device(std::shared_ptr<DeviceHandler> h) : handler(std::move(h)) {}
    ~Device() {
        for (auto* client : opens) g_object_unref(client);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::shared_ptr<DeviceHandler> handler;
    // The opens not yet found closed, a reference each. Only umockdev's thread touches them.
    std::vector<UMockdevIoctlClient*> opens;
    bool watched = false;
};

using DeviceShare = std::shared_ptr<Device>;

Device& device_of(gpointer data) {
    return **static_cast<DeviceShare*>(data);
}

gpointer new_share(const DeviceShare& device) {
    return new DeviceShare(device);
}

void drop_share(gpointer data) {
    delete static_cast<DeviceShare*>(data);
}

void drop_share_of_closure(gpointer data, GClosure*) {
    drop_share(data);
}

class TestbedRead final : public PendingRead {
public:
    explicit TestbedRead(UMockdevIoctlClient* client)
        : client_(static_cast<UMockdevIoctlClient*>(g_object_ref(client))) {}
    ~TestbedRead() override { g_object_unref(client_); }
    TestbedRead(const TestbedRead&) = delete;
    TestbedRead& operator=(const TestbedRead&) = delete;

    void deliver(std::span<const std::uint8_t> bytes) override {
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client_);
        const auto n = std::min(bytes.size(), static_cast<std::size_t>(arg->data_len));
        // umockdev copies the bytes; only its signature lacks the const.
        umockdev_ioctl_data_update(arg, 0, const_cast<guint8*>(bytes.data()), static_cast<gint>(n));
        umockdev_ioctl_client_complete(client_, static_cast<glong>(n), 0);
    }
    void fail(int error) override { umockdev_ioctl_client_complete(client_, -1, error); }

private:
    UMockdevIoctlClient* client_;
};

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    answer_ioctl(client);
    return TRUE;
}

gboolean on_write(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::span<const std::uint8_t> bytes(arg->data, static_cast<std::size_t>(arg->data_len));
    if (device_of(data).handler->write(client, bytes)) {
        umockdev_ioctl_client_complete(client, arg->data_len, 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, EIO);
    }
    return TRUE;
}

gboolean on_read(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    device_of(data).handler->read(client, std::make_unique<TestbedRead>(client));
    return TRUE;
}

// umockdev marks a closed open only in its client's "connected" property, and says nothing.
void forget_closed_opens(Device& device) {
    std::erase_if(device.opens, [&](UMockdevIoctlClient* client) {
        if (umockdev_ioctl_client_get_connected(client)) return false;
        device.handler->closed(client);
        g_object_unref(client);
        return true;
    });
}

gboolean on_close_check(gpointer data) {
    forget_closed_opens(device_of(data));
    return G_SOURCE_CONTINUE;
}

void on_client_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Device& device = device_of(data);
    if (!device.watched) {
        // On umockdev's thread, whose own context runs the watch.
        GSource* watch = g_timeout_source_new(close_check_ms);
        g_source_set_callback(watch, on_close_check, new_share(*static_cast<DeviceShare*>(data)),
                              drop_share);
        GMainContext* context = g_main_context_ref_thread_default();
        g_source_attach(watch, context);
        g_main_context_unref(context);
        g_source_unref(watch);
        device.watched = true;
    }
    // A program that ended has closed its opens before a later one opens the node.
    forget_closed_opens(device);
    device.opens.push_back(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
    device.handler->opened(client);
}

}  // namespace

struct HidrawTestbed::Impl {
    std::vector<GObjectPtr<UMockdevIoctlBase>> ioctl_handlers;
    GObjectPtr<UMockdevTestbed> testbed;
    unsigned added = 0;
};

HidrawTestbed::HidrawTestbed(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HidrawTestbed::~HidrawTestbed() = default;

std::unique_ptr<HidrawTestbed> HidrawTestbed::create(std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->testbed.reset(umockdev_testbed_new());
    if (!impl->testbed) {
        error = "umockdev could not create a testbed";
        return nullptr;
    }
    return std::unique_ptr<HidrawTestbed>(new HidrawTestbed(std::move(impl)));
}

bool HidrawTestbed::add_device(const std::string& product, std::shared_ptr<DeviceHandler> handler,
                               std::string& error) {
    UMockdevTestbed* tb = impl_->testbed.get();
    const unsigned n = impl_->added++;
    // Zero-padded names keep the system's device order (sorted by path) the order of adding.
    char port[16], number[16], serial[16], hid_name[32];
    std::snprintf(port, sizeof port, "1-%02u", n + 1);
    std::snprintf(number, sizeof number, "%u", n + 2);
    std::snprintf(serial, sizeof serial, "%04u", n + 1);
    std::snprintf(hid_name, sizeof hid_name, "0003:1A2B:3C4D.%04X", n + 1);
    const std::string interface_name = std::string(port) + ":1.0";
    const std::string hid_id = "0003:00001A2B:00003C4D";

    GString_ usb(umockdev_testbed_add_device(
        tb, "usb", port, nullptr, "idVendor", "1a2b", "idProduct", "3c4d", "manufacturer", "KT-NET",
        "product", product.c_str(), "serial", serial, "busnum", "1", "devnum", number, "bcdDevice",
        "0100", nullptr, "DEVTYPE", "usb_device", nullptr));
    GString_ intf(usb ? umockdev_testbed_add_device(tb, "usb", interface_name.c_str(), usb.get(),
                                                    "bInterfaceNumber", "00", nullptr, "DEVTYPE",
                                                    "usb_interface", nullptr)
                      : nullptr);
    const std::string full_name = "KT-NET " + product;
    GString_ hid(intf ? umockdev_testbed_add_device(tb, "hid", hid_name, intf.get(), nullptr,
                                                    "HID_ID", hid_id.c_str(), "HID_NAME",
                                                    full_name.c_str(), "HID_UNIQ", serial, nullptr)
                      : nullptr);
    if (!hid) {
        error = "umockdev could not add the USB HID device";
        return false;
    }
    auto descriptor = report_descriptor;
    umockdev_testbed_set_attribute_binary(tb, hid.get(), "report_descriptor", descriptor.data(),
                                          static_cast<gint>(descriptor.size()));

    // The N: line creates the /dev node; without it the device is listed but cannot be opened.
    const std::string node = "hidraw" + std::to_string(n);
    std::string record =
        "P: " + std::string(hid.get() + std::strlen("/sys")) + "/hidraw/" + node + "\n";
    if (handler) record += "N: " + node + "\n";
    record += "E: DEVNAME=/dev/" + node + "\nE: SUBSYSTEM=hidraw\n";
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(tb, record.c_str(), &gerror)) {
        error = "umockdev could not add " + node + ": " + take_error(gerror);
        return false;
    }
    if (!handler) return true;

    const auto device = std::make_shared<Device>(std::move(handler));
    GObjectPtr<UMockdevIoctlBase> ioctl(umockdev_ioctl_base_new());
    g_signal_connect(ioctl.get(), "handle-ioctl", G_CALLBACK(on_ioctl), nullptr);
    const auto connect = [&](const char* signal, GCallback callback) {
        g_signal_connect_data(ioctl.get(), signal, callback, new_share(device),
                              drop_share_of_closure, GConnectFlags{});
    };
    connect("handle-write", G_CALLBACK(on_write));
    connect("handle-read", G_CALLBACK(on_read));
    connect("client-connected", G_CALLBACK(on_client_connected));
    const std::string dev = "/dev/" + node;
    if (!umockdev_testbed_attach_ioctl(tb, dev.c_str(), ioctl.get(), &gerror)) {
        error = "umockdev could not attach to " + dev + ": " + take_error(gerror);
        return false;
    }
    impl_->ioctl_handlers.push_back(std::move(ioctl));
    auto readiness = PtyReadiness::open(umockdev_testbed_get_dev_fd(tb, dev.c_str()), error);
    if (!readiness) {
        error = dev + ": " + error;
        return false;
    }
    device->handler->attached(std::move(readiness));
    return true;
}

}  // namespace ktnet::emu
