#include "sim_port.hpp"

#include <thread>

namespace ktnet::sim {

namespace {

PortError error(PortError::Kind kind, std::string message) {
    return {kind, 0, std::move(message)};
}

// Waits until the time given, to within a few microseconds. A plain sleep ends a timer slack
// and a wake-up later, about 0.1 ms on Linux, which alone would put more than 1% on top of an
// 8 ms link; so the thread sleeps until shortly before and spins the rest of the way.
void wait_until(Clock::time_point due) {
    constexpr std::chrono::microseconds spin{200};
    if (due - Clock::now() > spin) std::this_thread::sleep_until(due - spin);
    while (Clock::now() < due) {
    }
}

class SimDevice final : public HidDevice {
public:
    SimDevice(const SimHidDevice& d, std::shared_ptr<int> open_count)
        : device_(d),
          queue_(d.controller ? d.controller->open_queue() : std::make_shared<InputQueue>()),
          open_count_(std::move(open_count)) {
        ++*open_count_;
    }
    ~SimDevice() override {
        if (claimed_) device_.claim->held = false;
        --*open_count_;
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    std::optional<std::wstring> product_string() override {
        if (!device_.product_readable) return std::nullopt;
        return device_.product;
    }

    PortStatus claim() override {
        if (claimed_) return Done{};
        if (device_.claim->held) return error(PortError::Kind::busy, "held by another process");
        device_.claim->held = claimed_ = true;
        return Done{};
    }

    PortStatus discard_pending() override {
        if (unplugged()) return error(PortError::Kind::gone, "unplugged");
        while (queue_->take(Clock::now())) {
        }
        return Done{};
    }

    PortStatus write_report(std::span<const std::uint8_t, report_size> report) override {
        if (!device_.controller || !device_.controller->receive(report)) {
            return error(PortError::Kind::gone, "the write failed");
        }
        return Done{};
    }

    PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                        std::chrono::milliseconds timeout) override {
        if (unplugged()) return error(PortError::Kind::gone, "unplugged");
        if (!device_.controller) return error(PortError::Kind::other, "not a controller");
        const auto deadline = Clock::now() + timeout;
        const auto due = queue_->next_due();
        if (!due || *due > deadline) {
            wait_until(deadline);
            return ReadOutcome::timed_out;
        }
        wait_until(*due);
        const auto entry = queue_->take(*due);
        if (entry->fails) return error(PortError::Kind::other, "the read failed");
        std::copy(entry->report.begin(), entry->report.end(), report.begin());
        return ReadOutcome::received;
    }

private:
    bool unplugged() const { return device_.controller && device_.controller->unplugged(); }

    SimHidDevice device_;
    std::shared_ptr<InputQueue> queue_;
    std::shared_ptr<int> open_count_;
    bool claimed_ = false;
};

class SimInterfaceList final : public HidInterfaceList {
public:
    SimInterfaceList(const std::vector<SimHidDevice>& devices, std::shared_ptr<int> open_count)
        : devices_(devices), open_count_(std::move(open_count)) {}

    Lookup lookup(unsigned index) override {
        if (index >= devices_.size()) return {};
        const std::string path = "/dev/sim" + std::to_string(index);
        if (!devices_[index].has_system_name) {
            return {Lookup::Kind::no_system_name, path, error(PortError::Kind::other, "no path")};
        }
        return {Lookup::Kind::present, path, {}};
    }
    PortResult<std::unique_ptr<HidDevice>> open(unsigned index) override {
        if (index >= devices_.size() || !devices_[index].openable) {
            return PortError{PortError::Kind::permission_denied, 13, "Permission denied"};
        }
        return std::unique_ptr<HidDevice>(
            std::make_unique<SimDevice>(devices_[index], open_count_));
    }

private:
    std::vector<SimHidDevice> devices_;
    std::shared_ptr<int> open_count_;
};

}  // namespace

PortResult<std::unique_ptr<HidInterfaceList>> SimPort::list_interfaces() {
    if (list_fails) return error(PortError::Kind::other, "the HID subsystem cannot be reached");
    return std::unique_ptr<HidInterfaceList>(
        std::make_unique<SimInterfaceList>(devices, open_count_));
}

SimPort port_with_controller(SimulatedController& controller) {
    SimPort port;
    port.devices.push_back({.controller = &controller});
    return port;
}

}  // namespace ktnet::sim
