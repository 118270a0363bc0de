#include "diagnostics.hpp"

#include <algorithm>
#include <cstdio>

#include "base/text.hpp"

namespace ktnet {

namespace {

constexpr const char* permission_hint =
    " (install the udev rule 70-kt-net-controller.rules and log in as a member of the group "
    "plugdev, or run as root)";

}  // namespace

std::string describe(const PortError& error) {
    std::string text = error.message.empty() ? "unknown reason" : error.message;
    if (error.kind == PortError::Kind::permission_denied) text += permission_hint;
    return text;
}

std::string DiscoveryLog::no_controller(const Discovery& discovery) const {
    using Kind = DiscoveryEvent::Kind;
    for (const auto& e : events_) {
        if (e.kind == Kind::no_hid_list)
            return "the HID devices could not be listed: " + describe(e.error);
        if (e.kind == Kind::no_system_name) {
            return "HID device " + std::to_string(e.index) +
                   " has no system path: " + describe(e.error);
        }
    }
    std::string text = "no KT-NET controller among " + std::to_string(discovery.devices_seen) +
                       " HID device" + (discovery.devices_seen == 1 ? "" : "s");
    // The controller itself may be the device that would not open: say which and why,
    // permission first, as that is the usual cause.
    const auto unopened = [&](bool permission) {
        return std::find_if(events_.begin(), events_.end(), [&](const DiscoveryEvent& e) {
            return e.kind == Kind::device_not_opened &&
                   (!permission || e.error.kind == PortError::Kind::permission_denied);
        });
    };
    auto it = unopened(true);
    if (it == events_.end()) it = unopened(false);
    if (it != events_.end())
        text += "; " + it->path + " could not be opened: " + describe(it->error);
    return text;
}

std::string DiscoveryLog::held() const {
    for (const auto& e : events_) {
        if (e.kind == DiscoveryEvent::Kind::controller_held) {
            return "the KT-NET controller " + e.path +
                   " is held by another program (another rdk, ldk or ktnet run); nothing was sent";
        }
    }
    return "the KT-NET controller is held by another program; nothing was sent";
}

std::string describe_answer(const Answer& a, std::chrono::milliseconds timeout) {
    switch (a.fault) {
        case AnswerFault::write_failed:
        case AnswerFault::read_failed:
            return std::string(describe(a.fault)) + ": " + describe(a.error);
        case AnswerFault::timed_out:
            return timeout.count() % 1000 == 0
                       ? "no answer within " + std::to_string(timeout.count() / 1000) + " s"
                       : "no answer within " + std::to_string(timeout.count()) + " ms";
        case AnswerFault::wrong_code:
            return "wrong answer code " + hex_byte(a.code);
        case AnswerFault::short_answer:
            return "short answer (" + std::to_string(a.length) + " bytes)";
        case AnswerFault::wrong_plu:
            return "PLU " + std::to_string(a.plu_answered) + " answered for PLU " +
                   std::to_string(a.plu_asked) + " (" + std::to_string(a.requests) + " requests)";
        case AnswerFault::bad_checksum:
            return std::string(describe(a.fault)) + " (" + std::to_string(a.requests) +
                   " requests)";
        case AnswerFault::wrong_address:
            return "answer from address " + hex_byte(a.address_answered) + " for " +
                   hex_byte(a.address_asked) + " (" + std::to_string(a.requests) + " requests)";
        case AnswerFault::plu_out_of_range:
            return "PLU " + std::to_string(a.plu_asked) + " cannot be asked for (at most " +
                   std::to_string(highest_request_plu) + "); nothing was sent";
        default:
            return std::string(describe(a.fault));
    }
}

}  // namespace ktnet
