// The port of the platform the program was built for (hidapi, or Win32 SetupAPI/HID.DLL).
#pragma once

#include <memory>

#include "hid_port.hpp"

namespace ktnet {

std::unique_ptr<HidPort> make_platform_port();

}  // namespace ktnet
