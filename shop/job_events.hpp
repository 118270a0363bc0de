// What a job tells as it goes, for whoever shows it: the command line's progress lines, a web
// page's progress bars. A job calls its observer from its own thread, in this order: per scale,
// scale_started, then record_done for each record, then scale_done. The observer only watches:
// it never changes what the job does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "link/scale_address.hpp"

namespace ktnet {

// Why a job should stop between two records; asked before each record and while an answer is
// awaited. A signal is one source, a "stop" button another.
using StopRequested = std::function<bool()>;

// Where a scale of a job stands at its end.
enum class ScaleState { done, failed, stopped, not_started };
std::string_view state_name(ScaleState state);  // "done", "failed", "stopped", "not started"

struct RecordEvent {
    std::size_t line = 0;  // in the file, for a load; 0 for a read
    std::uint32_t plu = 0;
    std::string result;  // "ok", "verified", "read", "refused"...
    bool ok = true;      // the record is where it should be
};

struct ScaleOutcome {
    std::size_t done = 0;   // records read, or stored (and verified)
    std::size_t total = 0;  // records the job meant to move
    bool ok = false;
    std::string result;  // "ok", or what went wrong
    double seconds = 0;
};

class JobObserver {
public:
    virtual ~JobObserver() = default;
    virtual void scale_started(const ScaleAddress& scale, std::size_t total) {
        (void)scale;
        (void)total;
    }
    // done: records done on this scale so far, this one included.
    virtual void record_done(const ScaleAddress& scale, std::size_t done,
                             const RecordEvent& event) {
        (void)scale;
        (void)done;
        (void)event;
    }
    virtual void scale_done(const ScaleAddress& scale, const ScaleOutcome& outcome) {
        (void)scale;
        (void)outcome;
    }
};

}  // namespace ktnet
