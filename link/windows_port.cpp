#include "windows_port.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "platform_port.hpp"

namespace ktnet {

namespace {

// The structures the system fills are sized for the target: SETUPAPI packs them to 1 byte on
// 32-bit Windows and to 8 on 64-bit, so cbSize is always sizeof, never a fixed number.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));

PortError::Kind kind_of(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return PortError::Kind::permission_denied;
        case ERROR_SHARING_VIOLATION:
            return PortError::Kind::busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return PortError::Kind::gone;
        default:
            return PortError::Kind::other;
    }
}

// The reason for the failure of the call just made; nothing may come between the two.
PortError last_error(const WindowsHidCalls& calls) {
    return windows_error(calls, calls.get_last_error());
}

DWORD wait_milliseconds(std::chrono::milliseconds timeout) {
    using Rep = std::chrono::milliseconds::rep;
    return static_cast<DWORD>(std::clamp<Rep>(timeout.count(), 0, Rep{INFINITE} - 1));
}

// A handle the system gave (a device or an event), closed when dropped.
class OwnedHandle {
public:
    OwnedHandle(const WindowsHidCalls& calls, HANDLE handle) : calls_(calls), handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept
        : calls_(other.calls_), handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&&) = delete;
    ~OwnedHandle() {
        if (handle_) calls_.close_handle(handle_);
    }

    HANDLE get() const { return handle_; }

private:
    const WindowsHidCalls& calls_;
    HANDLE handle_;
};

// The list of present HID interfaces, destroyed when dropped unless it was left to the
// process exit.
class DeviceInfoList {
public:
    DeviceInfoList(const WindowsHidCalls& calls, HDEVINFO list) : calls_(calls), list_(list) {}
    ~DeviceInfoList() {
        if (!left_) calls_.destroy_device_info_list(list_);
    }
    DeviceInfoList(const DeviceInfoList&) = delete;
    DeviceInfoList& operator=(const DeviceInfoList&) = delete;

    HDEVINFO get() const { return list_; }
    void leave_to_process_exit() { left_ = true; }

private:
    const WindowsHidCalls& calls_;
    HDEVINFO list_;
    bool left_ = false;
};

// A device opened either for this process alone, with overlapped I/O signalled through its
// own event, or (held by another handle) without access, for its product string only.
// Windows delivers an input report with its report number in byte 0, the layout of Report.
class WindowsHidDevice final : public HidDevice {
public:
    WindowsHidDevice(const WindowsHidCalls& calls, OwnedHandle device, OwnedHandle event)
        : calls_(calls), device_(std::move(device)), event_(std::move(event)) {}
    WindowsHidDevice(const WindowsHidCalls& calls, OwnedHandle device, PortError held)
        : calls_(calls), device_(std::move(device)), held_(std::move(held)) {}

    std::optional<std::wstring> product_string() override {
        std::array<wchar_t, product_string_buffer_size / sizeof(wchar_t)> text{};
        if (!calls_.get_product_string(device_.get(), text.data(), product_string_buffer_size)) {
            return std::nullopt;
        }
        return std::wstring(text.data(), ::wcsnlen(text.data(), text.size()));
    }

    // Nobody else can open the device while this handle is open, so holding it is the open.
    PortStatus claim() override {
        if (held_) return *held_;
        return Done{};
    }

    PortStatus discard_pending() override {
        if (held_) return *held_;
        if (!calls_.flush_queue(device_.get())) return last_error(calls_);
        return Done{};
    }

    PortStatus write_report(std::span<const std::uint8_t, report_size> report) override {
        if (held_) return *held_;
        OVERLAPPED overlapped = fresh_overlapped();
        const BOOL at_once =
            calls_.write_file(device_.get(), report.data(), report_size, nullptr, &overlapped);
        const auto finished =
            complete(at_once, overlapped, wait_milliseconds(report_write_timeout));
        if (!finished) return finished.error();
        if (*finished == Finish::cancelled) return windows_error(calls_, ERROR_TIMEOUT);
        return Done{};
    }

    PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                        std::chrono::milliseconds timeout) override {
        if (held_) return *held_;
        OVERLAPPED overlapped = fresh_overlapped();
        const BOOL at_once =
            calls_.read_file(device_.get(), report.data(), report_size, nullptr, &overlapped);
        const auto finished = complete(at_once, overlapped, wait_milliseconds(timeout));
        if (!finished) return finished.error();
        if (*finished == Finish::cancelled) return ReadOutcome::timed_out;
        return ReadOutcome::received;
    }

private:
    enum class Finish { completed, cancelled };

    OVERLAPPED fresh_overlapped() const {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_->get();
        return overlapped;
    }

    // After a ReadFile or WriteFile: done when it said TRUE, failed unless it runs on in the
    // background, and then finished within the time given.
    PortResult<Finish> complete(BOOL at_once, OVERLAPPED& overlapped, DWORD milliseconds) {
        if (at_once) return Finish::completed;
        const DWORD code = calls_.get_last_error();
        if (code != ERROR_IO_PENDING) return windows_error(calls_, code);
        return finish(overlapped, milliseconds);
    }

    // Waits up to the time given for a transfer running in the background. One still running
    // then is cancelled, and its end awaited all the same: until it ends the system may write
    // into the report and the OVERLAPPED. One that completes during the cancel counts as done.
    PortResult<Finish> finish(OVERLAPPED& overlapped, DWORD milliseconds) {
        const DWORD waited = calls_.wait_for_single_object(overlapped.hEvent, milliseconds);
        std::optional<PortError> wait_failed;
        if (waited != WAIT_OBJECT_0) {
            if (waited != WAIT_TIMEOUT) wait_failed = last_error(calls_);
            calls_.cancel_io(device_.get());
        }
        DWORD transferred = 0;
        if (calls_.get_overlapped_result(device_.get(), &overlapped, &transferred, TRUE)) {
            return Finish::completed;
        }
        const DWORD code = calls_.get_last_error();
        if (wait_failed) return *wait_failed;
        if (waited == WAIT_TIMEOUT && code == ERROR_OPERATION_ABORTED) return Finish::cancelled;
        return windows_error(calls_, code);
    }

    const WindowsHidCalls& calls_;
    OwnedHandle device_;
    std::optional<OwnedHandle> event_;  // for a device opened for this process alone
    std::optional<PortError> held_;     // for a device another handle holds
};

class WindowsInterfaceList final : public HidInterfaceList {
public:
    WindowsInterfaceList(const WindowsHidCalls& calls, HDEVINFO list, const GUID& hid_class)
        : calls_(calls), list_(calls, list), hid_class_(hid_class) {}

    Lookup lookup(unsigned index) override {
        found_.reset();
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!calls_.enum_device_interfaces(list_.get(), nullptr, &hid_class_, index, &data)) {
            return {};
        }
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
            std::array<std::byte, interface_detail_buffer_size>
                buffer{};
        auto* detail = new (buffer.data()) SP_DEVICE_INTERFACE_DETAIL_DATA_A{};
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!calls_.get_device_interface_detail(list_.get(), &data, detail,
                                                interface_detail_buffer_size, nullptr, nullptr)) {
            PortError why = last_error(calls_);
            // The search ends here. On this path the list has always been left to the
            // process exit rather than destroyed; the program ends soon after, so nothing
            // piles up.
            list_.leave_to_process_exit();
            return {Lookup::Kind::no_system_name, {}, std::move(why)};
        }
        constexpr std::size_t path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const char* path = reinterpret_cast<const char*>(buffer.data() + path_offset);
        found_ = Found{index, std::string(path, ::strnlen(path, buffer.size() - path_offset))};
        return {Lookup::Kind::present, found_->path, {}};
    }

    // Opens the interface of the last lookup(), which must have been of the same index.
    PortResult<std::unique_ptr<HidDevice>> open(unsigned index) override {
        if (!found_ || found_->index != index) {
            return PortError{PortError::Kind::gone, 0, "no interface was looked up there"};
        }
        SECURITY_ATTRIBUTES security{};
        security.nLength = sizeof(SECURITY_ATTRIBUTES);
        security.lpSecurityDescriptor = nullptr;
        security.bInheritHandle = FALSE;
        const char* path = found_->path.c_str();
        HANDLE handle = calls_.create_file(path, GENERIC_READ | GENERIC_WRITE, 0, &security,
                                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            OwnedHandle device(calls_, handle);
            HANDLE event = calls_.create_event(nullptr, TRUE, FALSE, nullptr);
            if (!event) return last_error(calls_);
            return std::unique_ptr<HidDevice>(std::make_unique<WindowsHidDevice>(
                calls_, std::move(device), OwnedHandle(calls_, event)));
        }
        PortError refused = last_error(calls_);
        if (refused.system_code != ERROR_SHARING_VIOLATION) return refused;

        // Another handle has the device open: another run holding the controller, or another
        // program using some other HID device. Opened without access the device still tells
        // its product string, and that tells the two apart.
        HANDLE probe = calls_.create_file(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                          OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return refused;
        return std::unique_ptr<HidDevice>(std::make_unique<WindowsHidDevice>(
            calls_, OwnedHandle(calls_, probe), std::move(refused)));
    }

private:
    struct Found {
        unsigned index;
        std::string path;
    };

    const WindowsHidCalls& calls_;
    DeviceInfoList list_;
    GUID hid_class_;
    std::optional<Found> found_;
};

}  // namespace

PortError windows_error(const WindowsHidCalls& calls, DWORD code) {
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    std::array<char, 512> text{};
    const auto size = static_cast<DWORD>(text.size());
    DWORD length =
        calls.format_message(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             text.data(), size, nullptr);
    if (length == 0)
        length = calls.format_message(flags, nullptr, code, 0, text.data(), size, nullptr);
    std::string message(text.data(), std::min<std::size_t>(length, text.size()));
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) message = "Windows error " + std::to_string(code);
    return {kind_of(code), static_cast<int>(code), std::move(message)};
}

const WindowsHidCalls& system_windows_hid() {
    // Not constexpr: imported functions are reached through the import table.
    static const WindowsHidCalls calls = {
        ::HidD_GetHidGuid,
        ::SetupDiGetClassDevsA,
        ::SetupDiEnumDeviceInterfaces,
        ::SetupDiGetDeviceInterfaceDetailA,
        ::SetupDiDestroyDeviceInfoList,
        ::CreateFileA,
        ::HidD_GetProductString,
        ::HidD_FlushQueue,
        ::CreateEventA,
        ::WriteFile,
        ::ReadFile,
        ::WaitForSingleObject,
        ::CancelIo,
        ::GetOverlappedResult,
        ::CloseHandle,
        ::GetLastError,
        ::FormatMessageA,
    };
    return calls;
}

PortResult<std::unique_ptr<HidInterfaceList>> WindowsPort::list_interfaces() {
    GUID hid_class{};
    calls_.get_hid_guid(&hid_class);
    HDEVINFO list =
        calls_.get_class_devs(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return last_error(calls_);
    return std::unique_ptr<HidInterfaceList>(
        std::make_unique<WindowsInterfaceList>(calls_, list, hid_class));
}

std::unique_ptr<HidPort> make_platform_port() {
    return std::make_unique<WindowsPort>();
}

}  // namespace ktnet
