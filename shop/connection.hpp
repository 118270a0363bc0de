// The controller for one run: found, held for this run alone (so two runs can never interleave
// on it) and opened; and the reading of records from one scale.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "cli/trace_from_environment.hpp"
#include "link/hid_port.hpp"
#include "link/session.hpp"
#include "shop/job_events.hpp"
#include "shop/shop_environment.hpp"

namespace ktnet {

struct ConnectionOptions {
    std::chrono::milliseconds timeout = answer_timeout;  // how long one answer may take
    // How long to wait for a controller another run holds: zero not at all, nothing for ever.
    std::optional<std::chrono::milliseconds> wait_for_held = std::chrono::milliseconds(0);
    // Whether the run should stop: asked while an answer is awaited and between records.
    StopRequested stop_requested = [] { return false; };
};

struct ConnectionFailure {
    enum class Kind {
        no_port,        // no HID port to reach a controller through
        no_controller,  // none found
        held,           // another run holds it; nothing was sent
        stopped,        // the run was asked to stop while it waited for the controller
    };
    Kind kind;
    std::string message;  // why, in one English phrase
};

class Connection {
public:
    // Finds and holds the controller (waiting for one another run holds, as long as the options
    // say), and sends the opening frame.
    [[nodiscard]] static Result<std::unique_ptr<Connection>, ConnectionFailure> open(
        ShopEnvironment& env, ConnectionOptions options);

    Session& session() { return *session_; }
    bool stop_requested() const { return options_.stop_requested(); }
    // Why an answer was not taken, with all it carried: "no answer within 10 s", "wrong answer
    // code 0xD1", "short answer (21 bytes)".
    std::string describe(const Answer& answer) const;

private:
    Connection(std::unique_ptr<HidPort> port, std::unique_ptr<TraceFromEnvironment> traced,
               std::unique_ptr<Session> session, ConnectionOptions options)
        : port_(std::move(port)),
          traced_(std::move(traced)),
          session_(std::move(session)),
          options_(std::move(options)) {}

    std::unique_ptr<HidPort> port_;
    std::unique_ptr<TraceFromEnvironment> traced_;  // uses *port_
    std::unique_ptr<Session> session_;              // uses traced_->port()
    ConnectionOptions options_;
};

// True when the answer says the controller went away (unplugged): nothing more can be asked.
bool controller_gone(const Answer& answer);

struct ScaleRead {
    std::vector<RecordFrame> records;  // one per PLU read, in order
    Answer failure{};                  // the answer that ended the read early, if it did
    bool complete = false;
    bool stopped() const { return failure.verdict == Answer::Verdict::interrupted; }
};

// Reads the PLUs from one scale in the order given, one request after another, stopping at the
// first PLU that gets no valid answer or when the run is asked to stop (failure then says
// interrupted). step(n, record) follows each record, the nth.
[[nodiscard]] ScaleRead read_records(
    Connection& connection, const ScaleAddress& scale, std::span<const std::uint32_t> plus,
    const std::function<void(std::size_t, const RecordFrame&)>& step);

// The PLU numbers first to last.
std::vector<std::uint32_t> plu_range(std::uint32_t first, std::uint32_t last);

}  // namespace ktnet
