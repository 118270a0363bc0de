// The result log of a load: JSON lines, one object per record sent to a scale, written as soon
// as the scale's answer (and its read-back) is in:
//   {"time":"2026-12-09T14:03:07","scale":"1S1","line":17,"plu":42,"name":"SER GOUDA",
//    "result":"verified","attempts":1}
// result is "ok" (stored), "verified" (stored, read back and equal), "refused" or "no_answer"
// (not stored after every attempt), "mismatch" (stored, but read back different, with a
// "fields" list), "verify_failed" (stored, but the read-back got no valid answer). "ok" and
// "verified" are done; a resumed load sends everything else again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cli/locked_file.hpp"

namespace ktnet {

struct LogEntry {
    std::string time;  // local time, ISO 8601 to the second
    std::string scale;
    std::size_t line = 0;  // in the loaded file, counted from 1
    std::uint32_t plu = 0;
    std::string name{};
    std::string result{};
    unsigned attempts = 0;
    std::vector<std::string> fields{};  // for a mismatch: the fields that differ

    bool done() const { return result == "ok" || result == "verified"; }
};

std::string log_line(const LogEntry& entry);  // one JSON object and its LF

// A record sent to a scale, as the log names it.
using LogKey = std::tuple<std::string, std::size_t, std::uint32_t>;  // scale, line, PLU
inline LogKey key_of(const LogEntry& e) {
    return {e.scale, e.line, e.plu};
}

struct LogRead {
    std::vector<LogEntry> done;  // the entries that are done, in the log's order
    std::string error;           // "line 4: ..." when the log cannot be read
};

[[nodiscard]] LogRead read_done_entries(const std::filesystem::path& path);

// A log of its own for a run: the name given, or ktnet-load-YYYYMMDD-HHMMSS.jsonl in the
// current folder (with -2, -3... when taken). Each line reaches the system in one write.
class LogWriter {
public:
    [[nodiscard]] static std::optional<LogWriter> create(const std::string& name,
                                                         const std::string& stamp,
                                                         std::string& error);
    [[nodiscard]] bool write(const LogEntry& entry);
    const std::filesystem::path& path() const { return path_; }

private:
    LogWriter(LockedFile file, std::filesystem::path path)
        : file_(std::move(file)), path_(std::move(path)) {}
    LockedFile file_;
    std::filesystem::path path_;
};

}  // namespace ktnet
