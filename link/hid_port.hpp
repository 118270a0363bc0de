// The platform port: the few HID operations the controller search and the exchange need.
// One implementation per platform (hidapi, Win32 SetupAPI/HID.DLL) and one over the
// simulated controller; everything else about the link is portable code above it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace ktnet {

// One HID report as the programs see it: byte 0 report number, byte 1 route or status,
// bytes 2..254 the escaped frame.
inline constexpr std::size_t report_size = 255;
using Report = std::array<std::uint8_t, report_size>;

// An open HID device. Closing happens in the destructor.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    // The product string, or nothing when it cannot be read.
    virtual std::optional<std::wstring> product_string() = 0;
    // Blocking transfer of one whole report; false when the operating system refused it.
    virtual bool write_report(std::span<const std::uint8_t, report_size> report) = 0;
    // Fills the report from the device (bytes it does not deliver are left as they are);
    // false when the read failed.
    virtual bool read_report(std::span<std::uint8_t, report_size> report) = 0;
};

// The HID interfaces present when the list was taken, looked up by position.
// The destructor releases the list.
class HidInterfaceList {
public:
    enum class Lookup {
        present,         // an interface stands at this index; open() may be tried
        absent,          // nothing at this index
        no_system_name,  // listed, but its device path could not be had
    };
    virtual ~HidInterfaceList() = default;
    virtual Lookup lookup(unsigned index) = 0;
    // Opens the interface found by the last lookup() for reading and writing; null on failure.
    virtual std::unique_ptr<HidDevice> open(unsigned index) = 0;
};

class HidPort {
public:
    virtual ~HidPort() = default;
    // Null when the HID subsystem itself cannot be reached (an empty list is not a failure).
    virtual std::unique_ptr<HidInterfaceList> list_interfaces() = 0;
};

}  // namespace ktnet
