// What the subcommands that talk to scales take from their surroundings besides their options
// and the two output streams: the port, signals, the terminal, the clock. main fills it in for
// the real machine; tests give a simulated port and their own answers.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/run_context.hpp"
#include "link/hid_port.hpp"

namespace ktnet {

struct ShopEnvironment {
    // The HID port, opened when a subcommand first needs the controller.
    std::function<std::unique_ptr<HidPort>()> open_port;
    RunContext context{};
    bool error_is_terminal = false;  // progress updates one line in place
    bool input_is_terminal = false;  // load may ask before it sends
    // One line typed by the user, without its end; nothing at the end of the input.
    std::function<std::optional<std::string>()> read_answer = [] {
        return std::optional<std::string>{};
    };
    std::function<std::chrono::system_clock::time_point()> now = [] {
        return std::chrono::system_clock::now();
    };
    // The run's command line as the store records a job's arguments, and where it came from.
    std::string command_line{};
    std::string origin = "command line";
};

}  // namespace ktnet
