#include "trace_from_environment.hpp"

#include <cstdlib>
#include <string>

namespace ktnet {

TraceFromEnvironment::TraceFromEnvironment(HidPort& inner,
                                           const std::function<void(std::string_view)>& diagnose)
    : inner_(inner) {
    const char* name = std::getenv(trace_variable);
    if (!name || !*name) return;
    file_.open(name, std::ios::app);
    if (!file_) {
        diagnose(std::string("cannot open the trace file ") + name + " (" + trace_variable +
                 "); going on without a trace");
        return;
    }
    tracing_.emplace(inner_, file_);
}

}  // namespace ktnet
