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
    decltype(&::WriteFile) write_file;
    decltype(&::ReadFile) read_file;
    decltype(&::CloseHandle) close_handle;
};

// The calls of the running Windows.
const WindowsHidCalls& system_windows_hid();

// Sizes the search hands to the system: the device path and the product string each get a
// 256-byte buffer.
inline constexpr DWORD interface_detail_buffer_size = 256;
inline constexpr ULONG product_string_buffer_size = 256;

class WindowsPort final : public HidPort {
public:
    explicit WindowsPort(const WindowsHidCalls& calls = system_windows_hid()) : calls_(calls) {}

    // The present HID interfaces, or null when the device-setup services give no list.
    std::unique_ptr<HidInterfaceList> list_interfaces() override;

private:
    const WindowsHidCalls& calls_;
};

}  // namespace ktnet
