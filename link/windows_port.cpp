#include "windows_port.hpp"

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

// A device handle, closed when dropped.
class DeviceHandle {
public:
    DeviceHandle(const WindowsHidCalls& calls, HANDLE handle) : calls_(calls), handle_(handle) {}
    ~DeviceHandle() { calls_.close_handle(handle_); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

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

// Synchronous I/O on a handle opened without FILE_FLAG_OVERLAPPED: each call returns when the
// whole report went out or came in. Windows delivers an input report with its report number
// in byte 0, which is the layout of Report.
class WindowsHidDevice final : public HidDevice {
public:
    WindowsHidDevice(const WindowsHidCalls& calls, HANDLE handle)
        : calls_(calls), handle_(calls, handle) {}

    std::optional<std::wstring> product_string() override {
        std::array<wchar_t, product_string_buffer_size / sizeof(wchar_t)> text{};
        if (!calls_.get_product_string(handle_.get(), text.data(), product_string_buffer_size)) {
            return std::nullopt;
        }
        return std::wstring(text.data(), ::wcsnlen(text.data(), text.size()));
    }

    bool write_report(std::span<const std::uint8_t, report_size> report) override {
        DWORD written = 0;
        return calls_.write_file(handle_.get(), report.data(), report_size, &written, nullptr) !=
               FALSE;
    }

    bool read_report(std::span<std::uint8_t, report_size> report) override {
        DWORD read = 0;
        return calls_.read_file(handle_.get(), report.data(), report_size, &read, nullptr) != FALSE;
    }

private:
    const WindowsHidCalls& calls_;
    DeviceHandle handle_;
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
            return Lookup::absent;
        }
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
            std::array<std::byte, interface_detail_buffer_size>
                buffer{};
        auto* detail = new (buffer.data()) SP_DEVICE_INTERFACE_DETAIL_DATA_A{};
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!calls_.get_device_interface_detail(list_.get(), &data, detail,
                                                interface_detail_buffer_size, nullptr, nullptr)) {
            // The search ends here. On this path the list has always been left to the
            // process exit rather than destroyed; the program ends soon after, so nothing
            // piles up.
            list_.leave_to_process_exit();
            return Lookup::no_system_name;
        }
        constexpr std::size_t path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const char* path = reinterpret_cast<const char*>(buffer.data() + path_offset);
        found_ = Found{index, std::string(path, ::strnlen(path, buffer.size() - path_offset))};
        return Lookup::present;
    }

    // Opens the interface of the last lookup(), which must have been of the same index.
    std::unique_ptr<HidDevice> open(unsigned index) override {
        if (!found_ || found_->index != index) return nullptr;
        SECURITY_ATTRIBUTES security{};
        security.nLength = sizeof(SECURITY_ATTRIBUTES);
        security.lpSecurityDescriptor = nullptr;
        security.bInheritHandle = FALSE;
        HANDLE handle = calls_.create_file(found_->path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                           OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<WindowsHidDevice>(calls_, handle);
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
        ::WriteFile,
        ::ReadFile,
        ::CloseHandle,
    };
    return calls;
}

std::unique_ptr<HidInterfaceList> WindowsPort::list_interfaces() {
    GUID hid_class{};
    calls_.get_hid_guid(&hid_class);
    HDEVINFO list =
        calls_.get_class_devs(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsInterfaceList>(calls_, list, hid_class);
}

std::unique_ptr<HidPort> make_platform_port() {
    return std::make_unique<WindowsPort>();
}

}  // namespace ktnet
