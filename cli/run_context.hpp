// What a run takes from its surroundings besides arguments, port and console: whether a
// signal asked it to stop, how long an answer may take, and where its diagnostics go. Tests
// give their own.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "link/controller_link.hpp"

namespace ktnet {

struct RunContext {
    // 0, or the signal that asked the run to stop (it ends once the current record is done).
    std::function<int()> stop_signal = [] { return 0; };
    std::chrono::milliseconds answer_timeout = ktnet::answer_timeout;
    // Takes the one English line that says why the run ended without success.
    std::function<void(std::string_view)> diagnose = [](std::string_view) {};
};

}  // namespace ktnet
