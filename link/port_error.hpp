// Why an operation of the HID port failed, as the system told it, and the result type that
// carries either a value or that reason. Ports return reasons; they never print them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

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

// A value, or the reason there is none.
template <typename T>
class [[nodiscard]] PortResult {
public:
    PortResult(T value) : content_(std::move(value)) {}
    PortResult(PortError error) : content_(std::move(error)) {}

    bool ok() const { return content_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(content_); }
    const T& value() const { return std::get<0>(content_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    const PortError& error() const { return std::get<1>(content_); }

private:
    std::variant<T, PortError> content_;
};

// The result of an operation that gives nothing back but may fail.
struct Done {};
using PortStatus = PortResult<Done>;

}  // namespace ktnet
