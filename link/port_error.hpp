// Why an operation of the HID port failed, as the system told it, and the result type that
// carries either a value or that reason. Ports return reasons; they never print them.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/result.hpp"

namespace ktnet {

struct PortError {
    enum class Kind {
        permission_denied,  // the system refused access (device node permissions)
        busy,               // another process holds the device
        gone,               // the device is no longer there (unplugged)
        other,
    };
    Kind kind = Kind::other;
    int system_code = 0;  // errno or GetLastError(); 0 when the system gave none
    std::string message;  // the system's or the library's own words
};

// A wide text of the system or a library (hidapi's reasons, product strings) as a message can
// show it whatever the locale: printable ASCII, every other character as '?'.
inline std::string printable_ascii(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

// A value, or the reason there is none; nothing but success.
template <typename T>
using PortResult = Result<T, PortError>;
using PortStatus = PortResult<Done>;

}  // namespace ktnet
