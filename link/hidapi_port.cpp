#include "hidapi_port.hpp"

#include <fcntl.h>
#include <hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform_port.hpp"

namespace ktnet {

namespace {

// More reports than hidraw keeps queued for one handle (64): a drain that takes this many
// faces a device that never stops sending, and stops anyway.
constexpr int max_discarded_reports = 256;

PortError::Kind kind_of(int code) {
    switch (code) {
        case EACCES:
        case EPERM:
            return PortError::Kind::permission_denied;
        case ENODEV:
        case ENOENT:
        case ENXIO:
        // hidraw answers a read of a device that has been unplugged with EIO.
        case EIO:
            return PortError::Kind::gone;
        case EWOULDBLOCK:
            return PortError::Kind::busy;
        default:
            return PortError::Kind::other;
    }
}

// hidapi keeps the reason as text; errno, taken right after the failed call, gives the kind.
PortError library_error(const HidapiCalls& calls, hid_device* device, int code) {
    const wchar_t* text = calls.error(device);
    return {kind_of(code), code, printable_ascii(text ? text : L"")};
}

// Holds an exclusive lock on the device node for as long as it lives. hidapi does not give
// out its own descriptor, so the lock is taken on a second one of the same node.
class NodeLock {
public:
    NodeLock() = default;
    NodeLock(NodeLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    NodeLock& operator=(NodeLock&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~NodeLock() {
        if (fd_ >= 0) ::close(fd_);
    }

    PortStatus take(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            const int code = errno;
            return PortError{kind_of(code), code, path + ": " + std::strerror(code)};
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) {
                return PortError{PortError::Kind::busy, code, "held by another process"};
            }
            return PortError{kind_of(code), code, std::strerror(code)};
        }
        fd_ = fd;
        return Done{};
    }

private:
    int fd_ = -1;
};

// A device without numbered reports: hidapi takes the report number as byte 0 of a write,
// and a read delivers the report without it, status byte first.
class HidapiDevice final : public HidDevice {
public:
    HidapiDevice(const HidapiCalls& calls, hid_device* handle, std::string path,
                 std::optional<std::wstring> product)
        : calls_(calls), handle_(handle), path_(std::move(path)), product_(std::move(product)) {}
    ~HidapiDevice() override { calls_.close(handle_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    std::optional<std::wstring> product_string() override { return product_; }

    PortStatus claim() override { return lock_.take(path_); }

    PortStatus discard_pending() override {
        std::array<unsigned char, report_size - 1> scrap;
        for (int i = 0; i < max_discarded_reports; ++i) {
            const int n = calls_.read_timeout(handle_, scrap.data(), scrap.size(), 0);
            if (n == 0) return Done{};
            if (n < 0) return library_error(calls_, handle_, errno);
        }
        return Done{};
    }

    PortStatus write_report(std::span<const std::uint8_t, report_size> report) override {
        if (calls_.write(handle_, report.data(), report.size()) < 0) return transfer_error(errno);
        return Done{};
    }

    PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                        std::chrono::milliseconds timeout) override {
        const int n = calls_.read_timeout(handle_, report.data() + 1, report.size() - 1,
                                          static_cast<int>(timeout.count()));
        if (n < 0) return transfer_error(errno);
        if (n == 0) return ReadOutcome::timed_out;
        report[0] = 0;
        return ReadOutcome::received;
    }

private:
    // Why a transfer failed. hidapi reports a device unplugged during a wait by its poll
    // alone, with no errno of its own: a node that is no longer there says it has gone.
    PortError transfer_error(int code) const {
        PortError error = library_error(calls_, handle_, code);
        std::error_code ec;
        if (error.kind == PortError::Kind::other && !path_.empty() &&
            !std::filesystem::exists(path_, ec) && !ec)
            error.kind = PortError::Kind::gone;
        return error;
    }

    const HidapiCalls& calls_;
    hid_device* handle_;
    std::string path_;
    std::optional<std::wstring> product_;
    NodeLock lock_;
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
        if (index >= entries_.size()) return {};
        return {Lookup::Kind::present, entries_[index].path, {}};
    }

    PortResult<std::unique_ptr<HidDevice>> open(unsigned index) override {
        if (index >= entries_.size()) return PortError{PortError::Kind::gone, 0, "no such device"};
        const Entry& e = entries_[index];
        errno = 0;
        hid_device* handle = calls_.open_path(e.path.c_str());
        if (!handle) return library_error(calls_, nullptr, errno);
        return std::unique_ptr<HidDevice>(
            std::make_unique<HidapiDevice>(calls_, handle, e.path, e.product));
    }

private:
    const HidapiCalls& calls_;
    std::vector<Entry> entries_;
};

}  // namespace

const HidapiCalls& system_hidapi() {
    static constexpr HidapiCalls calls = {
        hid_init,         hid_exit,  hid_enumerate, hid_free_enumeration, hid_open_path, hid_write,
        hid_read_timeout, hid_close, hid_error,
    };
    return calls;
}

HidapiPort::HidapiPort(const HidapiCalls& calls) : calls_(calls) {}

HidapiPort::~HidapiPort() {
    if (initialised_) calls_.exit();
}

PortResult<std::unique_ptr<HidInterfaceList>> HidapiPort::list_interfaces() {
    if (!initialised_) {
        errno = 0;
        if (calls_.init() != 0) return library_error(calls_, nullptr, errno);
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
    return std::unique_ptr<HidInterfaceList>(
        std::make_unique<HidapiInterfaceList>(calls_, std::move(entries)));
}

std::unique_ptr<HidPort> make_platform_port() {
    return std::make_unique<HidapiPort>();
}

}  // namespace ktnet
