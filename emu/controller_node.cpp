#include "controller_node.hpp"

#include <cerrno>
#include <vector>

namespace ktnet::emu {

// A read and what it gets: a report, or else the failure's errno.
struct ControllerNode::Handout {
    std::unique_ptr<PendingRead> read;
    std::optional<sim::InputQueue::Entry> entry;
    int error = EIO;
};

void ControllerNode::hand_out(std::vector<Handout>& handouts) {
    for (auto& [read, entry, error] : handouts) {
        if (!entry) {
            read->fail(error);
        } else if (entry->fails) {
            read->fail(EIO);
        } else {
            // A read delivers the report without its report-number byte, status byte first.
            read->deliver(std::span<const std::uint8_t>(entry->report).subspan(1));
        }
    }
}

ControllerNode::ControllerNode(sim::SimulatedController& controller)
    : controller_(controller), timer_([this](std::stop_token stop) { run_timer(stop); }) {}

ControllerNode::~ControllerNode() {
    stop();
}

void ControllerNode::stop() {
    std::vector<Handout> handouts;
    {
        const std::lock_guard guard(mutex_);
        stopped_ = true;
        readiness_.reset();
        // A reader that outlived the command learns that the device has gone.
        for (auto& [id, c] : clients_) {
            if (c.waiting) handouts.push_back({std::move(c.waiting), std::nullopt});
        }
    }
    hand_out(handouts);
    timer_.request_stop();
    if (timer_.joinable()) timer_.join();
}

void ControllerNode::attached(std::unique_ptr<NodeReadiness> readiness) {
    const std::lock_guard guard(mutex_);
    if (!stopped_) readiness_ = std::move(readiness);
}

ControllerNode::Client& ControllerNode::client(ClientId id) {
    auto [it, added] = clients_.try_emplace(id);
    if (added) it->second.queue = controller_.open_queue();
    return it->second;
}

void ControllerNode::opened(ClientId id) {
    const std::lock_guard guard(mutex_);
    if (!stopped_) client(id);
}

void ControllerNode::closed(ClientId id) {
    std::vector<Handout> handouts;
    {
        const std::lock_guard guard(mutex_);
        // A read still kept dies with its caller's open, unanswered.
        clients_.erase(id);
        settle(Clock::now(), handouts);
    }
    hand_out(handouts);
}

bool ControllerNode::write(ClientId id, std::span<const std::uint8_t> bytes) {
    std::vector<Handout> handouts;
    bool written = false;
    {
        const std::lock_guard guard(mutex_);
        if (stopped_) return false;
        client(id).talks = true;
        written = controller_.receive(bytes);
        settle(Clock::now(), handouts);
    }
    hand_out(handouts);
    return written;
}

void ControllerNode::read(ClientId id, std::unique_ptr<PendingRead> read) {
    std::vector<Handout> handouts;
    {
        const std::lock_guard guard(mutex_);
        if (stopped_) {
            handouts.push_back({std::move(read), std::nullopt});
        } else {
            Client& c = client(id);
            c.talks = true;
            c.waiting = std::move(read);
            settle(Clock::now(), handouts);
            // Nothing due here, yet the node polls readable: the poll that led to this read
            // saw another open's report. Answered as hidraw answers a read that must not wait.
            if (c.waiting && readable_) handouts.push_back({std::move(c.waiting), {}, EAGAIN});
        }
    }
    hand_out(handouts);
}

void ControllerNode::settle(Clock::time_point now, std::vector<Handout>& handouts) {
    if (stopped_) return;
    // Unplugged, every read fails at once, and a poll must not wait for it.
    const bool unplugged = controller_.unplugged();
    bool readable = unplugged;
    std::optional<Clock::time_point> next;
    for (auto& [id, c] : clients_) {
        if (c.waiting) {
            if (unplugged) {
                handouts.push_back({std::move(c.waiting), std::nullopt});
            } else if (auto entry = c.queue->take(now)) {
                handouts.push_back({std::move(c.waiting), std::move(entry)});
            }
        }
        if (!c.talks) continue;
        const auto due = c.queue->next_due();
        if (!due) continue;
        if (*due <= now) {
            readable = true;
        } else if (!next || *due < *next) {
            next = due;
        }
    }
    // Before any read is answered, so that its caller's next poll sees the state after it.
    readable_ = readable;
    if (readiness_) readiness_->set(readable);
    if (next && (!wake_at_ || *next < *wake_at_)) {
        wake_at_ = next;
        wake_.notify_one();
    }
}

void ControllerNode::run_timer(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        const auto at = wake_at_;
        const auto moved = [&] { return wake_at_ != at; };
        const bool earlier =
            at ? wake_.wait_until(lock, stop, *at, moved) : wake_.wait(lock, stop, moved);
        if (stop.stop_requested()) return;
        if (earlier) continue;
        wake_at_.reset();
        std::vector<Handout> handouts;
        settle(Clock::now(), handouts);
        lock.unlock();
        hand_out(handouts);
        lock.lock();
    }
}

}  // namespace ktnet::emu
