// An in-process HID port over a configurable list of devices, some of them simulated
// KT-NET controllers: the programs run whole against it without hardware. Every open of a
// device is a handle of its own, with its own queue of input reports, as on a real system.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/hid_port.hpp"
#include "simulated_controller.hpp"

namespace ktnet::sim {

// Whether some handle of a device holds it; shared by every copy of the device's description.
struct ClaimState {
    bool held = false;
};

struct SimHidDevice {
    std::wstring product = L"KT-NET CONTROLLER";
    bool openable = true;
    bool product_readable = true;
    bool has_system_name = true;                // false: listed, but its device path cannot be had
    SimulatedController* controller = nullptr;  // answers the reports when set
    std::shared_ptr<ClaimState> claim = std::make_shared<ClaimState>();
};

// A copy lists the same devices and shares their claims, controllers and open count, so a test
// can hand each run a port of its own and still see what the runs did.
class SimPort final : public HidPort {
public:
    std::vector<SimHidDevice> devices;
    bool list_fails = false;  // the HID subsystem cannot be reached

    PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() override;

    // How many devices were opened and are still open.
    int open_devices() const { return *open_count_; }

private:
    std::shared_ptr<int> open_count_ = std::make_shared<int>(0);
};

// A port with one controller at index 0.
SimPort port_with_controller(SimulatedController& controller);

}  // namespace ktnet::sim
