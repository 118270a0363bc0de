// An emulated set of USB HID devices, visible through /sys and /dev/hidraw* to this process
// and the processes it starts. Works only in a process started with umockdev's preload library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace ktnet::emu {

// One open of a device node: the same value for every call made through that open, and for
// no other open while it lasts.
using ClientId = const void*;

// A read of a device node that waits for its bytes. The caller's read() returns once it is
// answered, which may be later and from any thread. Dropping it unanswered leaves that read
// waiting: only a read whose caller has closed the node may be dropped so.
class PendingRead {
public:
    virtual ~PendingRead() = default;
    // Hands the caller these bytes, at most as many as it asked for.
    virtual void deliver(std::span<const std::uint8_t> bytes) = 0;
    // Makes the read fail with this errno.
    virtual void fail(int error) = 0;
};

// Whether poll() finds a device node readable. The node is one pseudo-terminal under
// umockdev, so this state is shared by every open of the node.
class NodeReadiness {
public:
    virtual ~NodeReadiness() = default;
    virtual void set(bool readable) = 0;
};

// Answers one device node. Every call comes from the testbed's own thread.
class DeviceHandler {
public:
    virtual ~DeviceHandler() = default;
    // Once the node exists, before anything opens it: how to make it poll readable.
    virtual void attached(std::unique_ptr<NodeReadiness> readiness) = 0;
    virtual void opened(ClientId client) = 0;
    virtual void closed(ClientId client) = 0;
    // The bytes the caller wrote; false makes the write fail.
    virtual bool write(ClientId client, std::span<const std::uint8_t> bytes) = 0;
    // Answer it now or keep it and answer it later.
    virtual void read(ClientId client, std::unique_ptr<PendingRead> read) = 0;
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
    // opens and the handler answers it. The testbed keeps the handler while it lives.
    [[nodiscard]] bool add_device(const std::string& product,
                                  std::shared_ptr<DeviceHandler> handler, std::string& error);

private:
    struct Impl;
    explicit HidrawTestbed(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ktnet::emu
