// A backup run: each scale read whole into DIR/<address>-<YYYY-MM-DD>.txt in the reader's exact
// format, replaced only once complete, told to an observer as it goes. Never prints.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "shop/connection.hpp"
#include "shop/job_events.hpp"
#include "shop/store_journal.hpp"

namespace ktnet {

struct BackupRequest {
    std::vector<ScaleAddress> scales;
    std::vector<std::uint32_t> plus;
    std::filesystem::path dir;
    std::chrono::system_clock::time_point when;  // names the files
    // The store: told of every record read, and of each scale read whole as a snapshot, which
    // is also what a shrunk backup is measured against. Nothing: no store.
    StoreJournal* journal = nullptr;
    // Dated files of the scales backed up that are older than this many days are removed, but
    // never a scale's newest good backup. Nothing: none is removed.
    std::optional<unsigned> keep_days{};
};

struct BackupOutcome {
    struct Scale {
        ScaleAddress address;
        std::size_t records = 0;  // read
        double seconds = 0;
        ScaleState state = ScaleState::not_started;
        std::string result = "not started";  // "ok", or what went wrong
        std::filesystem::path file{};
        bool previous_kept = false;  // a failed scale's earlier backup of the day is still there
        bool shrunk = false;  // its named articles fell by more than half since its last backup
        std::vector<std::filesystem::path> removed{};  // older backups --keep removed
    };
    std::vector<Scale> scales;     // every scale asked for, in order
    bool stopped = false;          // a stop request ended it
    bool controller_gone = false;  // the controller went away: the rest was not started
    std::string store_failure{};   // the store could not be written: the run ended there

    bool all_done() const;
};

std::filesystem::path backup_path(const std::filesystem::path& dir, const ScaleAddress& scale,
                                  std::chrono::system_clock::time_point when);
// The date in a dated backup's name of the scale, "1S1-2026-12-08.txt" or
// "1S1-2026-12-08-shrunk.txt"; nothing for any other name.
std::optional<std::string> backup_date(const std::string& name, const ScaleAddress& scale);

// The folder of the backups, made with its parents when it is missing. True when it was made;
// the reason when it is something else than a folder or cannot be made.
[[nodiscard]] Result<bool, std::string> prepare_backup_folder(const std::filesystem::path& dir);

[[nodiscard]] BackupOutcome run_backup_job(Connection& connection, const BackupRequest& request,
                                           JobObserver& observer);

}  // namespace ktnet
