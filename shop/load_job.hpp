// A load run: the plan's records sent to one scale after another, each logged as soon as its
// answer (and read-back) is in, told to an observer as it goes. Never prints.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "shop/connection.hpp"
#include "shop/job_events.hpp"
#include "shop/load_log.hpp"
#include "shop/load_plan.hpp"
#include "shop/store_journal.hpp"

namespace ktnet {

// Sends of one record a scale does not take, before the scale counts as failed.
inline constexpr unsigned store_attempts = 3;

struct LoadJobResult {
    struct Scale {
        ScaleAddress address;
        std::size_t to_send = 0;  // to send or read back in this run
        std::size_t done = 0;     // stored (and verified) in this run
        double seconds = 0;
        ScaleState state = ScaleState::not_started;
        std::string result = "not started";
    };
    std::vector<Scale> scales;     // every scale of the plan, in its order
    bool stopped = false;          // a stop request ended the run
    bool controller_gone = false;  // the controller went away: the rest was not started
    std::string log_failure{};     // set when the log could not be written: the run ended there
    std::string store_failure{};   // set when the store could not be written: the run ended there

    bool all_done() const;
};

struct LoadJobContext {
    Connection& connection;  // its stop request ends the run between two records
    LogWriter& log;
    JobObserver& observer;
    std::function<std::string()> now;  // the local time for a log line
    // The store, told of every record: unknown before its request goes out, known once the
    // scale acknowledged it (with --verify: what its read-back gave). Nothing: no store.
    StoreJournal* journal = nullptr;
    ChangeCause cause = ChangeCause::load;
};

[[nodiscard]] LoadJobResult run_load_job(const LoadPlan& plan, bool verify,
                                         const LoadJobContext& context);

}  // namespace ktnet
