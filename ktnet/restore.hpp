// ktnet restore SCALE [--from DATE | --from FILE] [--plu LIST] [--changed] [--dry-run]: a scale
// made to hold exactly what a snapshot says (shop/restore_plan.hpp).
#pragma once

#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct RestoreOptions {
    std::string scale{};
    std::string from{};        // empty: the newest backup; "2026-12-08": that day's; else a file
    std::string from_scale{};  // a snapshot of another scale, on purpose
    std::string plu{};         // empty: every PLU of the snapshot
    bool changed = false;      // only what differs from the store's known state
    bool no_verify = false;
    bool yes = false;
    bool dry_run = false;
    std::string log{};  // empty: ktnet-restore-YYYYMMDD-HHMMSS.jsonl
    DeviceOptions device{};
};

// Says first what the snapshot is, how many records it sends, and which later loads it undoes;
// refuses a snapshot of another scale unless --from-scale names it. Sends every record (only
// those that differ with --changed) and reads each back. Returns 0 when the scale holds the
// snapshot, 1 when a record failed or the question was answered no, 2 for trouble, 5 when
// another run holds the controller, 128+N when signal N stopped it.
int run_restore(const RestoreOptions& options, ShopEnvironment& env, RunOutput& output);

void add_restore(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
