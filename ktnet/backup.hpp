// ktnet backup SCALES [--plu LIST] [--dir DIR]: each scale into a dated file of the reader's
// format (shop/backup_job.hpp).
#pragma once

#include <optional>
#include <string>

#include "command.hpp"
#include "device_options.hpp"

namespace ktnet {

struct BackupOptions {
    std::string scales{};
    std::string plu = "1-10000";
    std::string dir = ".";
    DeviceOptions device{};
    std::optional<unsigned> keep_days{};  // --keep DAYS
};

// Makes a missing --dir with its parents and says so. Returns 0 when every scale is backed up,
// 1 when a scale failed (its previous backup is kept), 2 for a bad command line, no controller
// or one that went away, 5 when another run holds the controller, 128+N when signal N stopped
// it.
int run_backup(const BackupOptions& options, ShopEnvironment& env, RunOutput& output);

void add_backup(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
