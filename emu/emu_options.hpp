// ktnet-emu's command line.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/simulated_controller.hpp"

namespace ktnet::emu {

// A HID device listed before the controller.
struct OtherDevice {
    bool openable;        // false: listed, but its device node is missing
    std::string product;  // product string of an openable one
};

struct EmuOptions {
    std::optional<std::string> scales_file;  // loaded at start when present, saved at the end
    std::vector<ScaleAddress> scales;        // scales to have even when they hold no records
    std::vector<OtherDevice> devices_before;
    bool controller = true;
    std::string product = "KT-NET CONTROLLER";
    std::vector<std::pair<std::size_t, sim::Fault>> faults;  // by exchange, 0 = opening frame
    std::chrono::microseconds latency{0};
    sim::Quirks quirks;
    std::optional<std::string> pid_file;    // where to write the command's process id
    std::optional<std::string> usage_file;  // where to write the command's resource use
    std::optional<std::string> log_file;    // where umockdev's own messages go
    bool help = false;
    bool version = false;
    std::vector<std::string> command;
};

struct ParsedOptions {
    std::optional<EmuOptions> options;
    std::string error;  // set when options is empty
};

ParsedOptions parse_emu_options(std::span<const std::string_view> args);

extern const std::string_view emu_usage;

}  // namespace ktnet::emu
