// The controller for one ktnet run: found, held for this run alone (so two runs can never
// interleave on it) and opened; and the reading of a range of records from one scale.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/trace_from_environment.hpp"
#include "link/hid_port.hpp"
#include "link/session.hpp"
#include "progress.hpp"
#include "shop_environment.hpp"

namespace CLI {
class App;
}

namespace ktnet {

// Statuses every subcommand that talks to scales may end with, beyond 0, 1 and 2.
namespace ktnet_status {
inline constexpr int controller_held = 5;  // another run holds the controller; nothing was sent
}  // namespace ktnet_status

// The options of every subcommand that talks to scales.
struct DeviceOptions {
    std::string shop{};            // --shop FILE; empty: the default place
    unsigned timeout_ms = 10'000;  // --timeout: how long one answer may take
    bool json = false;
};

// --shop, --timeout and --json, added to a subcommand.
void add_device_options(CLI::App& sub, DeviceOptions& options, bool json);

class Connection {
public:
    // Finds and holds the controller with the device options' time-out, and sends the opening
    // frame. Nothing when there is no controller or another run holds it: the reason then goes
    // to err after the command's name ("ktnet scan: ..."), and status holds the exit status.
    [[nodiscard]] static std::unique_ptr<Connection> open(ShopEnvironment& env,
                                                          const DeviceOptions& device,
                                                          std::string_view command,
                                                          std::ostream& err, int& status);

    Session& session() { return *session_; }
    // The signal that asked the run to stop, or 0.
    int stop_signal() const { return stop_signal_(); }

private:
    Connection(std::unique_ptr<HidPort> port, std::unique_ptr<TraceFromEnvironment> traced,
               std::unique_ptr<Session> session, std::function<int()> stop_signal)
        : port_(std::move(port)),
          traced_(std::move(traced)),
          session_(std::move(session)),
          stop_signal_(std::move(stop_signal)) {}

    std::unique_ptr<HidPort> port_;
    std::unique_ptr<TraceFromEnvironment> traced_;  // uses *port_
    std::unique_ptr<Session> session_;              // uses traced_->port()
    std::function<int()> stop_signal_;
};

struct ScaleRead {
    std::vector<RecordFrame> records;  // one per PLU read, in order
    Answer failure{};                  // the answer that ended the read early, if it did
    bool complete = false;
};

// Reads the PLUs from one scale in the order given, one request after another, stopping at the
// first PLU that gets no valid answer or when the run is asked to stop (failure then says
// interrupted). step(n) follows each record.
[[nodiscard]] ScaleRead read_records(Connection& connection, const ScaleAddress& scale,
                                     std::span<const std::uint32_t> plus,
                                     const std::function<void(std::size_t)>& step);

// One scale read whole, its progress shown under label. Nothing when the read fails: the reason
// then goes to err after the command's name ("ktnet export: 1S1 deli: PLU 7: ..."), unless a
// signal stopped it, and status holds the exit status.
[[nodiscard]] std::optional<std::vector<RecordFrame>> read_whole_scale(
    Connection& connection, const ScaleAddress& scale, const std::string& label,
    std::span<const std::uint32_t> plus, Progress& progress, std::string_view command,
    std::ostream& err, int& status);

// The PLU numbers first to last.
std::vector<std::uint32_t> plu_range(std::uint32_t first, std::uint32_t last);

// "no answer within the time-out", with the system's reason when there is one.
std::string describe_failure(const Answer& answer);

}  // namespace ktnet
