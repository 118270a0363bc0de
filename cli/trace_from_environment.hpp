// KTNET_TRACE=FILE: the programs' port, traced into FILE (appended to) when the variable names
// one. A file that cannot be opened is said through diagnose, and the run goes on untraced.
#pragma once

#include <fstream>
#include <functional>
#include <optional>
#include <string_view>

#include "link/tracing_port.hpp"

namespace ktnet {

inline constexpr const char* trace_variable = "KTNET_TRACE";

class TraceFromEnvironment {
public:
    // inner must outlive this object.
    TraceFromEnvironment(HidPort& inner, const std::function<void(std::string_view)>& diagnose);
    TraceFromEnvironment(const TraceFromEnvironment&) = delete;
    TraceFromEnvironment& operator=(const TraceFromEnvironment&) = delete;

    // The port to use: traced, or the inner one.
    HidPort& port() { return tracing_ ? static_cast<HidPort&>(*tracing_) : inner_; }

private:
    HidPort& inner_;
    std::ofstream file_;
    std::optional<TracingPort> tracing_;
};

}  // namespace ktnet
