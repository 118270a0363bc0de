// The link to the KT-NET controller: finds it among the HID devices, then carries one
// escaped frame per exchange in 255-byte reports.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "frame.hpp"
#include "hid_port.hpp"

namespace ktnet {

inline constexpr std::string_view expected_product = "KT-NET CONTROLLER";
inline constexpr unsigned interface_tries = 20;
inline constexpr std::uint8_t route_opening = 20;
inline constexpr std::uint8_t status_failed = 5;  // the controller's "no answer"

inline constexpr std::string_view message_no_hid_list = "Could not attach to PnP node";
inline constexpr std::string_view message_no_system_name =
    "Could not find the system name for this Device\n";
inline constexpr std::string_view message_other_device = "wykryto urzadzenie hid inne niz kt-net\n";
inline constexpr std::string_view message_controller_found = "wykryto urzadzenie kt-net\n";

// True when the low byte of each of the first 17 code units spells the expected product.
bool is_controller_product(std::wstring_view product);

// The output report that carries an escaped frame buffer on a route: report number 0, the
// route, then the buffer's first 253 bytes (the frame and whatever follows it in the buffer).
void fill_output_report(std::uint8_t route,
                        std::span<const std::uint8_t, frame_buffer_size> escaped, Report& report);

class ControllerLink {
public:
    // Both must outlive the link. Discovery messages go to console.
    ControllerLink(HidPort& port, std::ostream& console);

    // Searches the first twenty HID interfaces and keeps the first controller found.
    bool find_controller();

    bool has_controller() const { return controller_ != nullptr; }

    // Sends bytes 0..252 of the escaped buffer on the given route and, on success, copies the
    // answering frame into answer[0..252] and returns the status byte. Returns nothing when
    // the write or the read failed (or there is no controller); answer is then untouched.
    std::optional<std::uint8_t> exchange(std::uint8_t route,
                                         std::span<const std::uint8_t, frame_buffer_size> escaped,
                                         std::span<std::uint8_t, frame_buffer_size> answer);

private:
    HidPort& port_;
    std::ostream& console_;
    std::unique_ptr<HidDevice> controller_;
    Report output_{};
    Report input_{};
};

// Sends the opening frame through the given buffers, as both programs do once after the
// controller search. Its answer carries nothing the programs need and is not looked at.
void send_opening_frame(ControllerLink& link, std::span<std::uint8_t, frame_buffer_size> raw,
                        std::span<std::uint8_t, frame_buffer_size> escaped,
                        std::span<std::uint8_t, frame_buffer_size> answer);

// An exchange counts as answered only when it did not fail and its status is not 5.
constexpr bool answered(std::optional<std::uint8_t> status) {
    return status.has_value() && *status != status_failed;
}

}  // namespace ktnet
