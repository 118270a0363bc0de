#include "shop/scan_job.hpp"

#include "shop/connection.hpp"

namespace ktnet {

namespace {
using Clock = std::chrono::steady_clock;
}

ScanResult run_scan_job(Connection& connection, const std::vector<ScaleAddress>& addresses,
                        JobObserver& observer) {
    ScanResult result;
    for (const ScaleAddress& address : addresses) {
        if (connection.stop_requested()) {
            result.stopped = true;
            break;
        }
        observer.scale_started(address, 1);
        unsigned no_scale = 0;  // "no answer from the scale" in a row
        std::optional<std::string> odd;
        std::optional<double> took_ms;
        for (unsigned request = 0; request < scan_requests && no_scale < 2 && !took_ms; ++request) {
            const auto sent = Clock::now();
            const RecordAnswer got = connection.session().read_record(address, 1);
            const Answer& a = got.answer;
            if (a.accepted()) {
                took_ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            } else if (a.verdict == Answer::Verdict::interrupted) {
                result.stopped = true;
                break;
            } else if (a.verdict == Answer::Verdict::no_answer) {
                result.silent_at = address;
                result.silence = connection.describe(a);
                break;
            } else if (a.fault == AnswerFault::status_5) {
                ++no_scale;
            } else {
                no_scale = 0;
                odd = connection.describe(a);
            }
        }
        if (result.stopped || result.silent_at) break;
        ++result.asked;
        ScaleOutcome outcome{took_ms ? 1u : 0u, 1, took_ms.has_value(), "no scale", 0};
        if (took_ms) {
            result.found.push_back({address, *took_ms});
            outcome.result = "answered";
            outcome.seconds = *took_ms / 1000;
        } else if (odd) {
            result.garbled.push_back({address, *odd});
            outcome.result = "answered, but garbled";
        }
        observer.record_done(address, outcome.done, {0, 1, outcome.result, outcome.ok});
        observer.scale_done(address, outcome);
    }
    return result;
}

}  // namespace ktnet
