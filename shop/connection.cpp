#include "shop/connection.hpp"

#include <fmt/format.h>

#include <numeric>

#include "cli/diagnostics.hpp"
#include "cli/pause.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

// How often a run that waits for a held controller looks again.
constexpr std::chrono::milliseconds held_poll{250};

}  // namespace

Result<std::unique_ptr<Connection>, ConnectionFailure> Connection::open(ShopEnvironment& env,
                                                                        ConnectionOptions options) {
    using Kind = ConnectionFailure::Kind;
    auto port = env.open_port ? env.open_port() : nullptr;
    if (!port)
        return ConnectionFailure{Kind::no_port, "no HID port to reach a KT-NET controller through"};
    // KTNET_TRACE=FILE: every report to and from the controller goes to FILE.
    auto traced = std::make_unique<TraceFromEnvironment>(*port, env.context.diagnose);
    auto session = std::make_unique<Session>(
        traced->port(), SessionOptions{options.timeout, options.stop_requested});
    const auto started = Clock::now();
    for (;;) {
        DiscoveryLog log;
        const Discovery found =
            session->find_controller([&log](const DiscoveryEvent& event) { log.record(event); });
        if (found.result == Discovery::Result::none)
            return ConnectionFailure{Kind::no_controller, log.no_controller(found)};
        if (found.result == Discovery::Result::found) break;
        const auto waited = Clock::now() - started;
        if (options.wait_for_held && waited >= *options.wait_for_held) {
            std::string why = log.held();
            if (options.wait_for_held->count() > 0) {
                why +=
                    fmt::format(" (waited {} s)",
                                std::chrono::duration_cast<std::chrono::seconds>(waited).count());
            }
            return ConnectionFailure{Kind::held, std::move(why)};
        }
        if (options.stop_requested())
            return ConnectionFailure{Kind::stopped, "stopped while waiting for the controller"};
        pause_for(held_poll);
    }
    // The opening frame's answer carries nothing the scales' work needs.
    (void)session->open_conversation();
    return std::unique_ptr<Connection>(
        new Connection(std::move(port), std::move(traced), std::move(session), std::move(options)));
}

std::string Connection::describe(const Answer& answer) const {
    return describe_answer(answer, options_.timeout);
}

bool controller_gone(const Answer& answer) {
    return (answer.fault == AnswerFault::write_failed ||
            answer.fault == AnswerFault::read_failed) &&
           answer.error.kind == PortError::Kind::gone;
}

ScaleRead read_records(Connection& connection, const ScaleAddress& scale,
                       std::span<const std::uint32_t> plus,
                       const std::function<void(std::size_t, const RecordFrame&)>& step) {
    ScaleRead result;
    result.records.reserve(plus.size());
    for (const std::uint32_t plu : plus) {
        // A stop is honoured between records too: a scale that answers every request at once
        // would otherwise keep the run going to the last PLU.
        if (connection.stop_requested()) {
            result.failure.verdict = Answer::Verdict::interrupted;
            result.failure.fault = AnswerFault::interrupted;
            result.failure.plu_asked = plu;
            return result;
        }
        RecordAnswer got = connection.session().read_record(scale, plu);
        if (!got.answer.accepted()) {
            result.failure = got.answer;
            return result;
        }
        result.records.push_back(got.record);
        step(result.records.size(), got.record);
    }
    result.complete = true;
    return result;
}

std::vector<std::uint32_t> plu_range(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> plus(last - first + 1);
    std::iota(plus.begin(), plus.end(), first);
    return plus;
}

}  // namespace ktnet
