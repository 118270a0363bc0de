// The platform port: the few HID operations the controller search and the exchange need.
// One implementation per platform (hidapi, Win32 SetupAPI/HID.DLL) and one over the simulated
// controller; everything else about the link is portable code above it. The contract every
// implementation keeps is written next to each operation; docs/design.md repeats it whole.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "port_error.hpp"

namespace ktnet {

// One HID report as the programs see it: byte 0 report number, byte 1 route or status,
// bytes 2..254 the escaped frame.
inline constexpr std::size_t report_size = 255;
using Report = std::array<std::uint8_t, report_size>;

enum class ReadOutcome {
    received,   // a report was read
    timed_out,  // none arrived within the time given; the report is untouched
};

// An open HID device. Every open handle has its own queue of the device's input reports (as
// Linux hidraw and Windows HID keep them): a report that arrives is queued for every handle,
// and stays queued until that handle reads it. Closing happens in the destructor, and ends a
// claim.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    // The product string, or nothing when it cannot be read.
    virtual std::optional<std::wstring> product_string() = 0;
    // Holds the device for this process alone, from now until this handle is closed or the
    // process ends in any way (kill included: the operating system ends the hold). Never
    // waits: a device another process holds fails at once with PortError::Kind::busy.
    virtual PortStatus claim() = 0;
    // Throws away every input report already queued for this handle; never waits.
    virtual PortStatus discard_pending() = 0;
    // Writes one whole report; returns once the system has taken it.
    virtual PortStatus write_report(std::span<const std::uint8_t, report_size> report) = 0;
    // Waits up to timeout (0: only looks) for the next queued input report and fills the report
    // with it, report number in byte 0. A signal that interrupts the wait may end it early with
    // a failure; the caller tells that from a broken device by its own record of signals.
    virtual PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                                std::chrono::milliseconds timeout) = 0;
};

// The HID interfaces present when the list was taken, looked up by position.
// The destructor releases the list.
class HidInterfaceList {
public:
    struct Lookup {
        enum class Kind {
            present,         // an interface stands at this index; open() may be tried
            absent,          // nothing at this index
            no_system_name,  // listed, but its device path could not be had
        };
        Kind kind = Kind::absent;
        std::string path;  // the device path of a present interface, for messages
        PortError error;   // why there is no system name
    };
    virtual ~HidInterfaceList() = default;
    virtual Lookup lookup(unsigned index) = 0;
    // Opens the interface found by the last lookup() of the same index for reading and writing.
    virtual PortResult<std::unique_ptr<HidDevice>> open(unsigned index) = 0;
};

class HidPort {
public:
    virtual ~HidPort() = default;
    // Fails only when the HID subsystem itself cannot be reached (an empty list is a list).
    virtual PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() = 0;
};

}  // namespace ktnet
