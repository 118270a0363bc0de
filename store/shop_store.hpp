// The shop's memory: a SQLite database of what each scale holds, kept beside the shop file.
//
// It keeps every distinct record (bytes 6 to 74) ever read from or confirmed on a scale, once;
// each backup as a snapshot of a scale (which record each PLU held, when, by which job); what
// the store knows each scale holds now; every job (kind, arguments, origin, start, end, result,
// counts); and every change it saw: a load or restore that stored a record, or a read that found
// a record other than the one it knew (a change made elsewhere, at the keypad, say).
//
// Its one invariant: the store never claims that a scale holds a record it may not hold. A
// record becomes known when the scale's answer is accepted (a read, or a store the scale
// acknowledged); it is unknown from the moment its sending begins, and that mark is on the disk
// before the request goes out. After a kill or a power cut at any moment the store is
// consistent and truthful: an unknown record is simply sent next time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "link/frame.hpp"
#include "link/scale_address.hpp"
#include "store/sqlite.hpp"

namespace ktnet {

// Bytes 6 to 74 of a record frame: the PLU number, the name and the settings.
inline constexpr std::size_t stored_record_length = record_checksum_index - payload_index;  // 69
using StoredRecord = std::array<std::uint8_t, stored_record_length>;
StoredRecord stored_of(const RecordFrame& record);
RecordFrame frame_of(const StoredRecord& stored);
std::uint32_t plu_of(const StoredRecord& stored);

using TimePoint = std::chrono::system_clock::time_point;
// Times are kept in UTC, "2026-12-09T14:03:07Z", which sorts as text.
std::string store_time(TimePoint t);
std::optional<TimePoint> parse_store_time(const std::string& text);

using JobId = std::int64_t;
using StoreStatus = Result<Done, std::string>;

// Why a record changed.
enum class ChangeCause { load, restore, found };
std::string_view cause_name(ChangeCause cause);  // "load", "restore", "found"

// What a store commits at once. The commits of a run are few: the marks of the next records to
// send, then their results, about once a second.
class StoreBatch {
public:
    // The record's sending begins: from now on it is unknown.
    void sending(const ScaleAddress& scale, std::uint32_t plu);
    // The scale acknowledged a store (or a read-back gave these bytes).
    void confirmed(const ScaleAddress& scale, const StoredRecord& record, ChangeCause cause);
    // A read gave these bytes: they are what the scale holds; a difference from what the store
    // knew is a change found.
    void read(const ScaleAddress& scale, const StoredRecord& record);
    void contact(const ScaleAddress& scale);
    bool empty() const { return entries_.empty() && contacts_.empty(); }
    std::size_t size() const { return entries_.size(); }

private:
    friend class ShopStore;
    struct Entry {
        enum class Kind { sending, confirmed, read } kind;
        ScaleAddress scale;
        std::uint32_t plu;
        StoredRecord record{};
        ChangeCause cause = ChangeCause::load;
    };
    std::vector<Entry> entries_;
    std::vector<ScaleAddress> contacts_;
};

// What the store knows one scale holds.
struct KnownState {
    // By PLU: the record, or nothing when its sending began and no answer confirmed it.
    std::map<std::uint32_t, std::optional<StoredRecord>> records;
    std::optional<TimePoint> latest_backup;  // the snapshot the knowledge starts from, if any
    std::optional<TimePoint> latest_change;  // the newest load, restore or change found after it
    std::size_t unknown() const;
};

struct SnapshotInfo {
    std::int64_t id;
    ScaleAddress scale;
    TimePoint taken;
    JobId job;
    std::size_t records;
    std::size_t named;  // records whose name is not blank
    std::string file;   // the backup file written with it, if any
};

struct Snapshot {
    SnapshotInfo info;
    std::map<std::uint32_t, StoredRecord> records{};
};

struct ChangeRow {
    TimePoint time;
    ScaleAddress scale;
    std::uint32_t plu;
    std::optional<StoredRecord> before, after;  // nothing: not known
    ChangeCause cause;
    JobId job;
    std::string job_kind;  // "load", "restore", "backup"...
};

struct JobRow {
    JobId id;
    std::string kind, arguments, origin, result;
    TimePoint started;
    std::optional<TimePoint> ended;
};

struct ScaleStatus {
    ScaleAddress scale;
    std::optional<TimePoint> last_contact{};
    std::optional<SnapshotInfo> last_backup{};
    std::optional<JobRow> last_load{};  // the newest load or restore that reached it
    std::size_t known = 0, unknown = 0;
    std::size_t found_by_last_backup = 0;  // changes made elsewhere that it found
};

struct HistoryFilter {
    std::vector<ScaleAddress> scales;  // none: every scale
    std::vector<std::uint32_t> plus;   // none: every PLU
    std::optional<TimePoint> since;
};

class ShopStore {
public:
    // The place without --store: $KTNET_STORE; with the machine's shop file, /var/lib/ktnet;
    // else $XDG_STATE_HOME/ktnet (~/.local/state/ktnet) on Linux, %LOCALAPPDATA%\ktnet on
    // Windows; shop.db there. Nothing when no such place can be named.
    static std::optional<std::filesystem::path> default_path(bool machine_shop);

    // Opens (or makes) the store, in WAL mode, every commit flushed to the disk.
    [[nodiscard]] static Result<ShopStore, std::string> open(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }
    // Transactions committed through this object: what a run costs the disk.
    std::size_t commits() const { return commits_; }

    [[nodiscard]] Result<JobId, std::string> begin_job(const std::string& kind,
                                                       const std::string& arguments,
                                                       const std::string& origin, TimePoint when);
    struct JobScale {
        ScaleAddress scale;
        std::string state;  // "done", "failed", "stopped", "not started"
        std::size_t done = 0, total = 0;
    };
    [[nodiscard]] StoreStatus end_job(JobId job, TimePoint when, const std::string& result,
                                      const std::vector<JobScale>& scales);

    // Commits the batch in one transaction, as done by job at time when.
    [[nodiscard]] StoreStatus commit(const StoreBatch& batch, JobId job, TimePoint when);

    [[nodiscard]] Result<KnownState, std::string> known(const ScaleAddress& scale);

    // A backup's snapshot of a scale: every record read, PLU by PLU.
    [[nodiscard]] Result<std::int64_t, std::string> add_snapshot(
        const ScaleAddress& scale, JobId job, TimePoint when,
        const std::map<std::uint32_t, StoredRecord>& records, const std::string& file);
    // A scale's snapshots, newest first.
    [[nodiscard]] Result<std::vector<SnapshotInfo>, std::string> snapshots(
        const ScaleAddress& scale);
    [[nodiscard]] Result<Snapshot, std::string> snapshot(std::int64_t id);

    [[nodiscard]] Result<std::vector<ChangeRow>, std::string> history(const HistoryFilter& filter);
    // Loads and restores that stored records on the scale after a time, oldest first.
    [[nodiscard]] Result<std::vector<JobRow>, std::string> jobs_changing(const ScaleAddress& scale,
                                                                         TimePoint after);
    [[nodiscard]] Result<ScaleStatus, std::string> status(const ScaleAddress& scale);
    // The newest jobs, newest first.
    [[nodiscard]] Result<std::vector<JobRow>, std::string> recent_jobs(std::size_t count);

private:
    ShopStore(sql::Database db, std::filesystem::path path)
        : db_(std::move(db)), path_(std::move(path)) {}
    [[nodiscard]] Result<std::int64_t, std::string> body_id(const StoredRecord& record);
    [[nodiscard]] Result<StoredRecord, std::string> body(std::int64_t id);

    sql::Database db_;
    std::filesystem::path path_;
    std::map<StoredRecord, std::int64_t> body_ids_;  // bodies seen in this run
    std::size_t commits_ = 0;
};

}  // namespace ktnet
