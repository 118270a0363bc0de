// The simulated controller behind its device node, presented as Linux hidraw presents a
// device: every open of the node has its own queue of input reports holding a copy of every
// answer, and a read takes from its own queue, waiting while nothing there is due.
//
// poll() on the node sees one state for all its opens, so the node is readable exactly while
// a report is due for an open that talks to the device (has written or read). An open that
// only holds the node, as the programs' lock descriptor does, gets its copies like any other
// but never keeps the node readable. A report due later makes the node readable at its due
// time, by a timer of its own. No call waits under the lock: a read with nothing due is kept
// and answered when its report comes due, unless the node polls readable for another open
// (then the read came after a poll and must not wait: it gets EAGAIN, as a read that must not
// block gets from hidraw, and hidapi takes that as no report).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "hidraw_testbed.hpp"
#include "sim/simulated_controller.hpp"

namespace ktnet::emu {

class ControllerNode final : public DeviceHandler {
public:
    explicit ControllerNode(sim::SimulatedController& controller);
    ~ControllerNode() override;
    ControllerNode(const ControllerNode&) = delete;
    ControllerNode& operator=(const ControllerNode&) = delete;

    void attached(std::unique_ptr<NodeReadiness> readiness) override;
    void opened(ClientId client) override;
    void closed(ClientId client) override;
    bool write(ClientId client, std::span<const std::uint8_t> bytes) override;
    void read(ClientId client, std::unique_ptr<PendingRead> read) override;

    // From now on every write and read fails and the node is left alone: before the testbed
    // that owns the node goes.
    void stop();

private:
    using Clock = sim::Clock;
    struct Client {
        std::shared_ptr<sim::InputQueue> queue;
        bool talks = false;
        std::unique_ptr<PendingRead> waiting;  // a read kept until a report is due for it
    };
    struct Handout;

    Client& client(ClientId id);
    // Under the lock: takes the due reports of waiting reads into handouts, sets the node's
    // readiness and the timer for the next report that comes due.
    void settle(Clock::time_point now, std::vector<Handout>& handouts);
    // Outside the lock: answering a read may run umockdev's completion on the spot.
    static void hand_out(std::vector<Handout>& handouts);
    void run_timer(std::stop_token stop);

    sim::SimulatedController& controller_;
    std::mutex mutex_;
    bool stopped_ = false;
    std::map<ClientId, Client> clients_;
    std::unique_ptr<NodeReadiness> readiness_;
    bool readable_ = false;  // as last set
    std::optional<Clock::time_point> wake_at_;
    std::condition_variable_any wake_;
    std::jthread timer_;  // last: it stops and joins before the members it uses go
};

}  // namespace ktnet::emu
