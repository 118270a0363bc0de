// A scan: every address asked for PLU 1, each as a scale of one record, told to an observer as
// it goes. Never prints.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "shop/connection.hpp"
#include "shop/job_events.hpp"

namespace ktnet {

// Requests of one address before its answers count: a scale that answers oddly once is asked
// again, and an address is empty only once the controller said so twice in a row.
inline constexpr unsigned scan_requests = 3;

struct ScanResult {
    struct Found {
        ScaleAddress address;
        double answer_ms;  // of the answer taken
    };
    struct Garbled {
        ScaleAddress address;
        std::string why;  // what the last odd answer was
    };
    std::vector<Found> found;
    std::vector<Garbled> garbled;  // answered, but never with a record
    std::size_t asked = 0;         // addresses asked
    bool stopped = false;          // a stop request ended it
    // The controller stopped answering at this address, and why: the scan ended there, as
    // asking on would cost a time-out per address.
    std::optional<ScaleAddress> silent_at;
    std::string silence;

    bool complete(std::size_t addresses) const {
        return asked == addresses && !stopped && !silent_at;
    }
};

// The connection's stop request ends the scan between two addresses.
[[nodiscard]] ScanResult run_scan_job(Connection& connection,
                                      const std::vector<ScaleAddress>& addresses,
                                      JobObserver& observer);

}  // namespace ktnet
