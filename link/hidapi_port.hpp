// The port over hidapi (Linux hidraw, macOS). The library calls go through a table so that
// the report mapping can be tested without the library's devices.
#pragma once

#include <cstddef>
#include <memory>

#include "hid_port.hpp"

struct hid_device_;
struct hid_device_info;

namespace ktnet {

struct HidapiCalls {
    int (*init)();
    int (*exit)();
    hid_device_info* (*enumerate)(unsigned short vendor_id, unsigned short product_id);
    void (*free_enumeration)(hid_device_info* devices);
    hid_device_* (*open_path)(const char* path);
    int (*write)(hid_device_* device, const unsigned char* data, std::size_t length);
    // Waits up to milliseconds (0: does not wait); 0 when nothing came, -1 on an error.
    int (*read_timeout)(hid_device_* device, unsigned char* data, std::size_t length,
                        int milliseconds);
    void (*close)(hid_device_* device);
    // The library's words for the last failure of a device, or of the library when null.
    const wchar_t* (*error)(hid_device_* device);
};

// The calls of the system's hidapi library.
const HidapiCalls& system_hidapi();

class HidapiPort final : public HidPort {
public:
    explicit HidapiPort(const HidapiCalls& calls = system_hidapi());
    ~HidapiPort() override;
    HidapiPort(const HidapiPort&) = delete;
    HidapiPort& operator=(const HidapiPort&) = delete;

    PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() override;

private:
    const HidapiCalls& calls_;
    bool initialised_ = false;
};

}  // namespace ktnet
