#include "hidraw_testbed.hpp"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

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

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    answer_ioctl(client);
    return TRUE;
}

gboolean on_write(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
    auto& handler = *static_cast<ReportHandler*>(user_data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::span<const std::uint8_t> bytes(arg->data, static_cast<std::size_t>(arg->data_len));
    if (handler.write(bytes)) {
        umockdev_ioctl_client_complete(client, arg->data_len, 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, EIO);
    }
    return TRUE;
}

gboolean on_read(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
    auto& handler = *static_cast<ReportHandler*>(user_data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(arg->data_len));
    const int n = handler.read(bytes);
    if (n < 0) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    umockdev_ioctl_data_update(arg, 0, bytes.data(), n);
    umockdev_ioctl_client_complete(client, n, 0);
    return TRUE;
}

}  // namespace

struct HidrawTestbed::Impl {
    GObjectPtr<UMockdevTestbed> testbed;
    std::vector<GObjectPtr<UMockdevIoctlBase>> ioctl_handlers;
    std::vector<std::shared_ptr<ReportHandler>> report_handlers;
    unsigned devices = 0;
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

bool HidrawTestbed::add_device(const std::string& product, std::shared_ptr<ReportHandler> handler,
                               std::string& error) {
    UMockdevTestbed* tb = impl_->testbed.get();
    const unsigned n = impl_->devices++;
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

    GObjectPtr<UMockdevIoctlBase> ioctl(umockdev_ioctl_base_new());
    g_signal_connect(ioctl.get(), "handle-ioctl", G_CALLBACK(on_ioctl), nullptr);
    g_signal_connect(ioctl.get(), "handle-write", G_CALLBACK(on_write), handler.get());
    g_signal_connect(ioctl.get(), "handle-read", G_CALLBACK(on_read), handler.get());
    const std::string dev = "/dev/" + node;
    if (!umockdev_testbed_attach_ioctl(tb, dev.c_str(), ioctl.get(), &gerror)) {
        error = "umockdev could not attach to " + dev + ": " + take_error(gerror);
        return false;
    }
    impl_->ioctl_handlers.push_back(std::move(ioctl));
    impl_->report_handlers.push_back(std::move(handler));
    return true;
}

}  // namespace ktnet::emu
