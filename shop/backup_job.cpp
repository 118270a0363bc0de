#include "shop/backup_job.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>

#include "cli/replaced_file.hpp"
#include "plu/plu_line.hpp"

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
    for (BackupOutcome::Scale& r : job.scales) {
        if (job.stopped || job.controller_gone) break;
        if (connection.stop_requested()) {
            job.stopped = true;
            break;
        }
        observer.scale_started(r.address, request.plus.size());
        const auto started = Clock::now();
        const ScaleRead read =
            read_records(connection, r.address, request.plus, [&](std::size_t n) {
                observer.record_done(r.address, n, {0, request.plus[n - 1], "read", true});
            });
        r.records = read.records.size();
        std::error_code ec;
        if (read.complete) {
            const FileStatus stored = store_backup(r.file, r.address, read.records);
            r.state = stored ? ScaleState::done : ScaleState::failed;
            r.result =
                stored ? "ok"
                       : fmt::format("cannot write {}: {}", r.file.string(), stored.error().reason);
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
        if (r.state != ScaleState::done) {
            r.previous_kept = std::filesystem::exists(r.file, ec);
            if (r.previous_kept) r.result += "; the previous backup is kept";
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        observer.scale_done(r.address, {r.records, request.plus.size(), r.state == ScaleState::done,
                                        r.result, r.seconds});
    }
    return job;
}

}  // namespace ktnet
