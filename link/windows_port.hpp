// The port over the Windows device-setup services (SETUPAPI.dll) and HID.DLL. The system
// calls go through a table so that the call sequence can be tested against a fake.
#pragma once

// windows.h must come first: the other two build on its types.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// The mingw-w64 HID header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <chrono>
#include <memory>

#include "hid_port.hpp"

namespace ktnet {

struct WindowsHidCalls {
    decltype(&::HidD_GetHidGuid) get_hid_guid;
    decltype(&::SetupDiGetClassDevsA) get_class_devs;
    decltype(&::SetupDiEnumDeviceInterfaces) enum_device_interfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) get_device_interface_detail;
    decltype(&::SetupDiDestroyDeviceInfoList) destroy_device_info_list;
    decltype(&::CreateFileA) create_file;
    decltype(&::HidD_GetProductString) get_product_string;
    decltype(&::HidD_FlushQueue) flush_queue;
    decltype(&::CreateEventA) create_event;
    decltype(&::WriteFile) write_file;
    decltype(&::ReadFile) read_file;
    decltype(&::WaitForSingleObject) wait_for_single_object;
    decltype(&::CancelIo) cancel_io;
    decltype(&::GetOverlappedResult) get_overlapped_result;
    decltype(&::CloseHandle) close_handle;
    decltype(&::GetLastError) get_last_error;
    decltype(&::FormatMessageA) format_message;
};

// The calls of the running Windows.
const WindowsHidCalls& system_windows_hid();

// Sizes the search hands to the system: the device path and the product string each get a
// 256-byte buffer.
inline constexpr DWORD interface_detail_buffer_size = 256;
inline constexpr ULONG product_string_buffer_size = 256;

// A controller that has not taken an output report after this long never will: the write is
// cancelled and fails, so that a stuck controller cannot hold a run forever.
inline constexpr std::chrono::milliseconds report_write_timeout{5'000};

// The reason for a Windows error code: its kind, the code, and the system's text for it
// (English where the system has it, else the user's language), without the closing line break.
[[nodiscard]] PortError windows_error(const WindowsHidCalls& calls, DWORD code);

// Devices are opened for this process alone (share mode 0) and for overlapped I/O, which
// gives reads a time-out. A device that another handle already holds is opened a second way,
// without access, only to read its product string; its claim() then fails as busy.
class WindowsPort final : public HidPort {
public:
    explicit WindowsPort(const WindowsHidCalls& calls = system_windows_hid()) : calls_(calls) {}

    PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() override;

private:
    const WindowsHidCalls& calls_;
};

}  // namespace ktnet
