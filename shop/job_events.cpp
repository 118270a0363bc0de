#include "shop/job_events.hpp"

namespace ktnet {

std::string_view state_name(ScaleState state) {
    switch (state) {
        case ScaleState::done:
            return "done";
        case ScaleState::failed:
            return "failed";
        case ScaleState::stopped:
            return "stopped";
        case ScaleState::not_started:
            return "not started";
    }
    return "?";
}

}  // namespace ktnet
