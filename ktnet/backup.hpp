// ktnet backup SCALES [--plu A-B] [--dir DIR]: each scale into a dated PLU file of its own.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

#include "command.hpp"
#include "scale_access.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct BackupOptions {
    std::string scales{};
    std::string plu = "1-10000";
    std::string dir = ".";
    DeviceOptions device{};
};

// DIR/<address>-<YYYY-MM-DD>.txt for a scale backed up on that (local) day.
std::filesystem::path backup_path(const std::filesystem::path& dir, const ScaleAddress& scale,
                                  std::chrono::system_clock::time_point when);

// Reads each scale in turn into its backup file, in the reader's exact format. The file is
// written under a temporary name (the final name plus ".partial") and renamed over the final
// name only once every record is in it, so a scale that fails leaves its previous backup as
// it was; the next scale goes on. Prints a summary table (scale, records, time, result), or a
// JSON document with --json. Returns 0 when every scale was backed up, 1 when a scale failed,
// 2 for a bad command line or no controller, 5 when another run holds the controller, 128+N
// when signal N stopped it.
int run_backup(const BackupOptions& options, ShopEnvironment& env, std::ostream& out,
               std::ostream& err);

void add_backup(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
