// ktnet scan [--channels LIST]: which scales answer on the bus, and how fast.
#pragma once

#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct ScanOptions {
    std::string channels = "1-4";
    DeviceOptions device{};
};

// Asks every address of the channels (S1-S9, then T1-T9 on each) for PLU 1 (shop/scan_job.hpp)
// and lists the scales that answer, with their answer times, and those that answered but
// garbled. Returns 0 when every address was asked and every scale of the shop file on those
// channels answered, 1 when one answered but garbled or a shop scale did not answer (each
// named), 2 when the scan could not be completed, 5 when another run holds the controller,
// 128+N when signal N stopped it.
int run_scan(const ScanOptions& options, ShopEnvironment& env, RunOutput& output);

void add_scan(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
