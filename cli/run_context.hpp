// What a run takes from its surroundings besides arguments, port and console: whether a
// signal asked it to stop, and how long an answer may take. Tests give their own.
#pragma once

#include <chrono>
#include <functional>

#include "link/controller_link.hpp"

namespace ktnet {

struct RunContext {
    // 0, or the signal that asked the run to stop (it ends once the current record is done).
    std::function<int()> stop_signal = [] { return 0; };
    std::chrono::milliseconds answer_timeout = ktnet::answer_timeout;
};

}  // namespace ktnet
