// ktnet status [SCALES] and ktnet history [SCALES] [--plu LIST] [--since DATE]: what the
// shop's store knows, and every change it saw.
#pragma once

#include <string>
#include <vector>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct StatusOptions {
    std::vector<std::string> scales{};  // none: every scale of the shop file
    DeviceOptions device{};
};

// Per scale: its name, last contact, last backup (time, records, named articles), last load,
// the records known, and the changes made elsewhere its last backup found. Returns 0, or 2 when
// the store cannot be read.
int run_status(const StatusOptions& options, ShopEnvironment& env, RunOutput& output);

struct HistoryOptions {
    std::vector<std::string> scales{};  // none: every scale
    std::string plu{};
    std::string since{};  // YYYY-MM-DD
    DeviceOptions device{};
};

// Every change the store saw, oldest first: time, scale, PLU, field (as the fields file names it,
// with its columns), old and new, and the cause (a load or restore with its job, or a backup that
// found a record other than the one the store knew: a change made elsewhere, at the keypad say).
// Returns 0, or 2 when the store cannot be read.
int run_history(const HistoryOptions& options, ShopEnvironment& env, RunOutput& output);

void add_status(CLI::App& app, Command& chosen, ShopEnvironment& env);
void add_history(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
