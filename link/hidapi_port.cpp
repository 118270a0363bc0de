#include "hidapi_port.hpp"

#include <hidapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ktnet {

namespace {

// A device without numbered reports: hidapi takes the report number as byte 0 of a write,
// and a read delivers the report without it, status byte first.
class HidapiDevice final : public HidDevice {
public:
    HidapiDevice(const HidapiCalls& calls, hid_device* handle, std::optional<std::wstring> product)
        : calls_(calls), handle_(handle), product_(std::move(product)) {}
    ~HidapiDevice() override { calls_.close(handle_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    std::optional<std::wstring> product_string() override { return product_; }

    bool write_report(std::span<const std::uint8_t, report_size> report) override {
        return calls_.write(handle_, report.data(), report.size()) >= 0;
    }

    bool read_report(std::span<std::uint8_t, report_size> report) override {
        const int n = calls_.read(handle_, report.data() + 1, report.size() - 1);
        if (n < 0) return false;
        report[0] = 0;
        return true;
    }

private:
    const HidapiCalls& calls_;
    hid_device* handle_;
    std::optional<std::wstring> product_;
};

struct Entry {
    std::string path;
    std::optional<std::wstring> product;  // from the enumeration: the same udev value, read once
};

class HidapiInterfaceList final : public HidInterfaceList {
public:
    HidapiInterfaceList(const HidapiCalls& calls, std::vector<Entry> entries)
        : calls_(calls), entries_(std::move(entries)) {}

    Lookup lookup(unsigned index) override {
        return index < entries_.size() ? Lookup::present : Lookup::absent;
    }

    std::unique_ptr<HidDevice> open(unsigned index) override {
        if (index >= entries_.size()) return nullptr;
        hid_device* handle = calls_.open_path(entries_[index].path.c_str());
        if (!handle) return nullptr;
        return std::make_unique<HidapiDevice>(calls_, handle, entries_[index].product);
    }

private:
    const HidapiCalls& calls_;
    std::vector<Entry> entries_;
};

}  // namespace

const HidapiCalls& system_hidapi() {
    static constexpr HidapiCalls calls = {
        hid_init,      hid_exit,  hid_enumerate, hid_free_enumeration,
        hid_open_path, hid_write, hid_read,      hid_close,
    };
    return calls;
}

HidapiPort::HidapiPort(const HidapiCalls& calls) : calls_(calls) {}

HidapiPort::~HidapiPort() {
    if (initialised_) calls_.exit();
}

std::unique_ptr<HidInterfaceList> HidapiPort::list_interfaces() {
    if (!initialised_) {
        if (calls_.init() != 0) return nullptr;
        initialised_ = true;
    }
    // A null enumeration is an empty list: hidapi gives null both for no devices and when
    // udev cannot be asked, and only a failed init means the HID subsystem is out of reach.
    std::vector<Entry> entries;
    hid_device_info* devices = calls_.enumerate(0, 0);
    for (const hid_device_info* d = devices; d != nullptr; d = d->next) {
        Entry e{d->path ? d->path : "", std::nullopt};
        if (d->product_string) e.product = std::wstring(d->product_string);
        entries.push_back(std::move(e));
    }
    if (devices) calls_.free_enumeration(devices);
    return std::make_unique<HidapiInterfaceList>(calls_, std::move(entries));
}

}  // namespace ktnet

#include "platform_port.hpp"

namespace ktnet {

std::unique_ptr<HidPort> make_platform_port() {
    return std::make_unique<HidapiPort>();
}

}  // namespace ktnet
