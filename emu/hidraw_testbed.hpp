// An emulated set of USB HID devices, visible through /sys and /dev/hidraw* to this process
// and the processes it starts. Works only in a process started with umockdev's preload library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace ktnet::emu {

// Answers one device's reports. Called on the testbed's own thread.
struct ReportHandler {
    // The bytes the program wrote; false makes the write fail.
    std::function<bool(std::span<const std::uint8_t>)> write;
    // Fills the bytes the program reads and returns their count; a negative count makes the
    // read fail.
    std::function<int(std::span<std::uint8_t>)> read;
};

class HidrawTestbed {
public:
    // Null, with the reason in error, when the emulation cannot be set up.
    static std::unique_ptr<HidrawTestbed> create(std::string& error);
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // A USB HID device with this product string, after those added before it in the system's
    // device order. Without a handler the device is listed but cannot be opened; with one, it
    // opens and the handler answers its reports.
    bool add_device(const std::string& product, std::shared_ptr<ReportHandler> handler,
                    std::string& error);

private:
    struct Impl;
    explicit HidrawTestbed(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ktnet::emu
