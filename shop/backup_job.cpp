#include "shop/backup_job.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "base/text.hpp"
#include "cli/replaced_file.hpp"
#include "plu/plu_line.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

// The lines as one text, written whole or not at all.
FileStatus store_backup(const std::filesystem::path& path, const ScaleAddress& scale,
                        const std::vector<RecordFrame>& records) {
    std::vector<std::uint8_t> text;
    text.reserve(records.size() * formatted_line_length);
    for (const RecordFrame& record : records) {
        const FormattedLine line = format_line(scale, record);
        text.insert(text.end(), line.begin(), line.end());
    }
    return replace_file(path, text);
}

// A named article: a record whose name is not blank.
bool named(const StoredRecord& r) {
    const auto name = r.begin() + (name_frame_byte - payload_index);
    return std::any_of(name, name + name_length, [](std::uint8_t b) { return b != ' ' && b != 0; });
}

std::size_t named(const std::vector<RecordFrame>& records) {
    return static_cast<std::size_t>(std::count_if(
        records.begin(), records.end(), [](const auto& r) { return named(stored_of(r)); }));
}

std::string local_text(std::chrono::system_clock::time_point t) {
    return fmt::format("{:%Y-%m-%d %H:%M}",
                       fmt::localtime(std::chrono::system_clock::to_time_t(t)));
}

}  // namespace

std::optional<std::string> backup_date(const std::string& name, const ScaleAddress& scale) {
    const std::string head = scale.text() + "-";
    if (!name.starts_with(head) || name.size() < head.size() + 14) return std::nullopt;
    const std::string rest = name.substr(head.size());
    const std::string date = rest.substr(0, 10);
    if (!is_iso_date(date)) return std::nullopt;
    const std::string tail = rest.substr(10);
    if (tail != ".txt" && tail != "-shrunk.txt") return std::nullopt;
    return date;
}

namespace {

// The scale read whole: its backup written (under a name of its own when it shrank), and its
// snapshot stored.
void store_scale(BackupOutcome::Scale& r, const std::vector<RecordFrame>& records,
                 const BackupRequest& request, StoreJournal* journal, BackupOutcome& job) {
    const std::size_t named_now = named(records);
    // Measured against the scale's last snapshot, over the PLUs asked both times.
    std::optional<SnapshotInfo> previous;
    std::size_t named_before = 0;
    if (journal) {
        if (auto list = journal->store().snapshots(r.address); list && !list->empty()) {
            if (auto last = journal->store().snapshot(list->front().id)) {
                previous = last->info;
                for (const std::uint32_t plu : request.plus) {
                    const auto it = last->records.find(plu);
                    if (it != last->records.end() && named(it->second)) ++named_before;
                }
            }
        }
    }
    r.shrunk = previous && named_now * 2 < named_before;
    const std::filesystem::path dated = r.file;
    if (r.shrunk) {
        r.file = request.dir /
                 fmt::format("{}-{:%Y-%m-%d}-shrunk.txt", r.address.text(),
                             fmt::localtime(std::chrono::system_clock::to_time_t(request.when)));
    }
    if (const FileStatus stored = store_backup(r.file, r.address, records); !stored) {
        r.state = ScaleState::failed;
        r.result = fmt::format("cannot write {}: {}", r.file.string(), stored.error().reason);
        return;
    }
    if (journal) {
        std::map<std::uint32_t, StoredRecord> snapshot;
        for (const RecordFrame& record : records) snapshot[record_plu(record)] = stored_of(record);
        if (auto added = journal->store().add_snapshot(r.address, journal->job(), request.when,
                                                       snapshot, r.file.string());
            !added) {
            job.store_failure = added.error();
            r.state = ScaleState::failed;
            r.result = job.store_failure;
            return;
        }
    }
    if (!r.shrunk) {
        r.state = ScaleState::done;
        r.result = "ok";
        return;
    }
    std::error_code ec;
    r.state = ScaleState::failed;
    r.result = fmt::format(
        "the named articles fell from {} to {} since the backup of {}: {}, written as {}",
        named_before, named_now, local_text(previous->taken),
        std::filesystem::exists(dated, ec) ? "the previous backup is kept"
                                           : "nothing was written over",
        r.file.string());
}

// Removes the scale's dated backups older than the days to keep, never the newest good one.
std::vector<std::filesystem::path> prune(const ScaleAddress& scale, const BackupRequest& request) {
    const auto oldest =
        request.when - std::chrono::hours(24) * static_cast<int>(*request.keep_days);
    const std::string keep_from =
        fmt::format("{:%Y-%m-%d}", fmt::localtime(std::chrono::system_clock::to_time_t(oldest)));
    std::vector<std::pair<std::string, std::filesystem::path>> dated;  // date, file
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(request.dir, ec)) {
        if (!entry.is_regular_file(ec)) continue;
        if (const auto date = backup_date(entry.path().filename().string(), scale))
            dated.emplace_back(*date, entry.path());
    }
    std::optional<std::string> newest_good;
    for (const auto& [date, path] : dated) {
        if (path.filename().string().ends_with("-shrunk.txt")) continue;
        if (!newest_good || date > *newest_good) newest_good = date;
    }
    std::vector<std::filesystem::path> removed;
    for (const auto& [date, path] : dated) {
        const bool newest = newest_good && date == *newest_good &&
                            !path.filename().string().ends_with("-shrunk.txt");
        if (date >= keep_from || newest) continue;
        if (std::filesystem::remove(path, ec)) removed.push_back(path);
    }
    return removed;
}

}  // namespace

bool BackupOutcome::all_done() const {
    return std::all_of(scales.begin(), scales.end(),
                       [](const Scale& s) { return s.state == ScaleState::done; });
}

std::filesystem::path backup_path(const std::filesystem::path& dir, const ScaleAddress& scale,
                                  std::chrono::system_clock::time_point when) {
    const std::tm local = fmt::localtime(std::chrono::system_clock::to_time_t(when));
    return dir / fmt::format("{}-{:%Y-%m-%d}.txt", scale.text(), local);
}

Result<bool, std::string> prepare_backup_folder(const std::filesystem::path& dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return false;
    if (std::filesystem::exists(dir, ec))
        return unexpected(fmt::format("{} is there, but not a folder", dir.string()));
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return unexpected(fmt::format("cannot make the folder {}: {}", dir.string(), ec.message()));
    return true;
}

BackupOutcome run_backup_job(Connection& connection, const BackupRequest& request,
                             JobObserver& observer) {
    BackupOutcome job;
    for (const ScaleAddress& scale : request.scales)
        job.scales.push_back({scale, 0, 0, ScaleState::not_started, "not started",
                              backup_path(request.dir, scale, request.when)});
    StoreJournal* const journal = request.journal;
    for (BackupOutcome::Scale& r : job.scales) {
        if (job.stopped || job.controller_gone || !job.store_failure.empty()) break;
        if (connection.stop_requested()) {
            job.stopped = true;
            break;
        }
        observer.scale_started(r.address, request.plus.size());
        const auto started = Clock::now();
        StoreStatus journaled = Done{};
        const ScaleRead read = read_records(
            connection, r.address, request.plus, [&](std::size_t n, const RecordFrame& record) {
                if (journal && journaled) {
                    journal->read(r.address, stored_of(record));
                    journaled = journal->flush_if_due();
                }
                observer.record_done(r.address, n, {0, request.plus[n - 1], "read", true});
            });
        if (journal && journaled) {
            if (!read.records.empty()) journal->contact(r.address);
            journaled = journal->flush();
        }
        r.records = read.records.size();
        std::error_code ec;
        if (!journaled) {
            job.store_failure = journaled.error();
            r.state = ScaleState::failed;
            r.result = job.store_failure;
        } else if (read.complete) {
            store_scale(r, read.records, request, journal, job);
        } else if (read.stopped()) {
            job.stopped = true;
            r.state = ScaleState::stopped;
            r.result = "stopped";
        } else {
            job.controller_gone = controller_gone(read.failure);
            r.state = ScaleState::failed;
            r.result = fmt::format("PLU {}: {}", read.failure.plu_asked,
                                   connection.describe(read.failure));
        }
        if (r.state != ScaleState::done && !r.shrunk) {
            r.previous_kept = std::filesystem::exists(r.file, ec);
            if (r.previous_kept) r.result += "; the previous backup is kept";
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        observer.scale_done(r.address, {r.records, request.plus.size(), r.state == ScaleState::done,
                                        r.result, r.seconds});
    }
    if (request.keep_days) {
        for (BackupOutcome::Scale& r : job.scales)
            if (r.state == ScaleState::done) r.removed = prune(r.address, request);
    }
    return job;
}

}  // namespace ktnet
