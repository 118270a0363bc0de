#include "sim_port.hpp"

namespace ktnet::sim {

namespace {

class SimDevice final : public HidDevice {
public:
    SimDevice(const SimHidDevice& d, std::shared_ptr<int> open_count)
        : device_(d), open_count_(std::move(open_count)) {
        ++*open_count_;
    }
    ~SimDevice() override { --*open_count_; }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    std::optional<std::wstring> product_string() override {
        if (!device_.product_readable) return std::nullopt;
        return device_.product;
    }
    bool write_report(std::span<const std::uint8_t, report_size> report) override {
        return device_.controller && device_.controller->receive(report);
    }
    bool read_report(std::span<std::uint8_t, report_size> report) override {
        return device_.controller && device_.controller->answer(report);
    }

private:
    SimHidDevice device_;
    std::shared_ptr<int> open_count_;
};

class SimInterfaceList final : public HidInterfaceList {
public:
    SimInterfaceList(const std::vector<SimHidDevice>& devices, std::shared_ptr<int> open_count)
        : devices_(devices), open_count_(std::move(open_count)) {}

    Lookup lookup(unsigned index) override {
        if (index >= devices_.size()) return Lookup::absent;
        return devices_[index].has_system_name ? Lookup::present : Lookup::no_system_name;
    }
    std::unique_ptr<HidDevice> open(unsigned index) override {
        if (index >= devices_.size() || !devices_[index].openable) return nullptr;
        return std::make_unique<SimDevice>(devices_[index], open_count_);
    }

private:
    std::vector<SimHidDevice> devices_;
    std::shared_ptr<int> open_count_;
};

}  // namespace

std::unique_ptr<HidInterfaceList> SimPort::list_interfaces() {
    if (list_fails) return nullptr;
    return std::make_unique<SimInterfaceList>(devices, open_count_);
}

SimPort port_with_controller(SimulatedController& controller) {
    SimPort port;
    port.devices.push_back({.controller = &controller});
    return port;
}

}  // namespace ktnet::sim
