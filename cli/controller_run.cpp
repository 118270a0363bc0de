#include "controller_run.hpp"

#include "controller_messages.hpp"
#include "exit_status.hpp"

namespace ktnet {

ControllerRun::ControllerRun(HidPort& port, std::ostream& console, const RunContext& context)
    : console_(console),
      context_(context),
      session_(port, {context.answer_timeout, [&context] { return context.stop_signal() != 0; }}) {}

std::optional<int> ControllerRun::find_controller() {
    discovery_ = session_.find_controller([this](const DiscoveryEvent& event) {
        log_.record(event);
        print_discovery_event(console_, event);
    });
    if (discovery_.result != Discovery::Result::held) return std::nullopt;
    console_ << message_controller_held;
    context_.diagnose(log_.held());
    return exit_status::controller_held;
}

int ControllerRun::stopped(std::uint64_t records) const {
    const int signal = context_.stop_signal();
    context_.diagnose("stopped by signal " + std::to_string(signal) + " after " +
                      std::to_string(records) + " records");
    return exit_status::stopped_by(signal);
}

std::string ControllerRun::why_not(const Answer& answer, const std::string& what) const {
    if (answer.fault == AnswerFault::no_controller) return log_.no_controller(discovery_);
    return what + ": " + describe_answer(answer, context_.answer_timeout);
}

}  // namespace ktnet
