// The one English line that says why a run ended without success, for standard error. The
// console's Polish texts stay as they are; these lines add the reason they never gave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/controller_link.hpp"
#include "link/scale_address.hpp"
#include "link/session.hpp"

namespace ktnet {

// What the controller search met, kept for the line that explains its outcome.
class DiscoveryLog {
public:
    void record(const DiscoveryEvent& event) { events_.push_back(event); }

    // "no KT-NET controller among 3 HID devices", with the first device that could not be
    // opened and why (and where to look when permission was denied), or why the search ended.
    std::string no_controller(const Discovery& discovery) const;
    // "the KT-NET controller /dev/hidraw0 is held by another program ..."
    std::string held() const;

private:
    std::vector<DiscoveryEvent> events_;
};

// "the device path: the system's words"
std::string describe(const PortError& error);

// Why an answer was not taken, with what it carried: "status 5 (...)", "no answer within 10 s",
// "wrong answer code 0xD1", "short answer (40 bytes)", "PLU 18 answered for PLU 17 (5 requests)",
// "answer from address 0x82 for 0x81 (5 requests)".
std::string describe_answer(const Answer& answer, std::chrono::milliseconds timeout);

}  // namespace ktnet
