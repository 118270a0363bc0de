// The link to the KT-NET controller: finds it among the HID devices and holds it for this run
// alone, then carries one escaped frame per exchange in 255-byte reports, each answer read
// after its own request and waited for no longer than a time-out. An answer given up on may
// still come; it is waited for and dropped before the next request, never taken for the next
// request's answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "frame.hpp"
#include "hid_port.hpp"

namespace ktnet {

inline constexpr std::string_view expected_product = "KT-NET CONTROLLER";
inline constexpr unsigned interface_tries = 20;
inline constexpr std::uint8_t route_opening = 20;
inline constexpr std::uint8_t status_failed = 5;  // the controller's "no answer"

// How long an answer may take before the exchange counts as failed.
inline constexpr std::chrono::milliseconds answer_timeout{10'000};
// The longest stretch a wait goes without looking whether the run was asked to stop.
inline constexpr std::chrono::milliseconds stop_check_interval{100};

// True when the low byte of each of the first 17 code units spells the expected product.
[[nodiscard]] bool is_controller_product(std::wstring_view product);

// The output report that carries an escaped frame buffer on a route: report number 0, the
// route, then the buffer's first 253 bytes (the frame and whatever follows it in the buffer).
void fill_output_report(std::uint8_t route,
                        std::span<const std::uint8_t, frame_buffer_size> escaped, Report& report);

// What the controller search met, in the order it met it; the program decides what to say.
struct DiscoveryEvent {
    enum class Kind {
        no_hid_list,        // the HID devices could not be listed at all; the search ends
        no_system_name,     // a listed device has no path; the search ends
        device_not_opened,  // a device could not be opened; the search goes on
        controller_found,   // the controller was found and is held for this run
        controller_held,    // the controller was found, but another run holds it; the search ends
    };
    Kind kind;
    unsigned index = 0;
    std::string path;
    PortError error;  // the reason, for every kind but controller_found
};
using DiscoveryObserver = std::function<void(const DiscoveryEvent&)>;

struct [[nodiscard]] Discovery {
    enum class Result { found, held, none };
    Result result = Result::none;
    unsigned devices_seen = 0;  // HID interfaces looked at (at most interface_tries)
};

// The outcome of one exchange.
struct [[nodiscard]] Exchange {
    enum class Kind {
        answered,       // an answer came; status holds its status byte
        no_controller,  // there is no controller to ask
        write_failed,
        read_failed,
        timed_out,    // no answer within the time-out
        interrupted,  // the run was asked to stop while it waited
    };
    Kind kind = Kind::no_controller;
    std::uint8_t status = 0;
    PortError error;  // for write_failed and read_failed
};

class ControllerLink {
public:
    // port must outlive the link. stop_requested is asked while an answer is awaited; when it
    // says true the wait ends at once as interrupted.
    ControllerLink(HidPort& port, std::chrono::milliseconds timeout,
                   std::function<bool()> stop_requested);

    // Searches the first twenty HID interfaces and keeps and claims the first controller.
    Discovery find_controller(const DiscoveryObserver& observer);

    bool has_controller() const { return controller_ != nullptr; }

    // Throws away input reports waiting from before, sends bytes 0..252 of the escaped buffer on
    // the route, and waits for the answer. On an answer, copies its frame into answer[0..252];
    // otherwise answer is untouched. When the exchange before timed out or was interrupted,
    // first waits up to the time-out more for that late answer and drops it if it comes; a
    // stop request then ends the exchange, interrupted, before anything is sent.
    Exchange exchange(std::uint8_t route, std::span<const std::uint8_t, frame_buffer_size> escaped,
                      std::span<std::uint8_t, frame_buffer_size> answer);

private:
    // The grace wait for the answer to the request before; nothing when it is over.
    std::optional<Exchange> drop_late_answer();

    HidPort& port_;
    std::chrono::milliseconds timeout_;
    std::function<bool()> stop_requested_;
    std::unique_ptr<HidDevice> controller_;
    bool unanswered_ = false;  // the last request's answer was given up on, and may yet come
    Report output_{};
    Report input_{};
};

}  // namespace ktnet
