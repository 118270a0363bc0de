// The result log of a load: JSON lines. The first line says what the log is of:
//   {"ktnet_load_log":1,"time":"2026-12-09T14:03:00","file":"prices.txt","scales":["1S1","1S2"],
//    "verify":true,"resumes":"/home/shop/ktnet-load-20261208-101500.jsonl"}
// ("resumes" only in the log of a resumed load: the log it goes on from, which it does not
// copy). Then one object per record sent to a scale, written as soon as the scale's answer (and
// its read-back) is in:
//   {"time":"2026-12-09T14:03:07","scale":"1S1","line":17,"plu":42,"name":"SER GOUDA",
//    "result":"verified","attempts":1,"digest":"9a3f0c11d2e4b5a6"}
// digest is a 64-bit FNV-1a of the record's bytes as sent (PLU number, name and settings), so a
// resume can tell the record of this file from another file's record of the same PLU. result is
// "ok" (stored), "verified" (stored, read back and equal), "stored" (stored, but the run stopped
// before its read-back), "refused" (the scale answered no), "no_answer" (nothing came back, or
// the controller had no answer from the scale), "mismatch" (read back different, with a "fields"
// list) or "verify_failed" (the read-back got no valid answer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/locked_file.hpp"
#include "link/frame.hpp"

namespace ktnet {

inline constexpr int load_log_version = 1;

struct LogHeader {
    std::string time;
    std::string file;
    std::vector<std::string> scales;
    bool verify = false;
    std::string resumes{};  // the earlier log this one goes on from, or empty
};

struct LogEntry {
    std::string time;  // local time, ISO 8601 to the second
    std::string scale;
    std::size_t line = 0;  // in the loaded file, counted from 1
    std::uint32_t plu = 0;
    std::string name{};
    std::string result{};
    unsigned attempts = 0;
    std::uint64_t digest = 0;
    std::vector<std::string> fields{};  // for a mismatch: the fields that differ

    // On the scale: "ok", "verified" or "stored".
    bool stored() const { return result == "ok" || result == "verified" || result == "stored"; }
    bool verified() const { return result == "verified"; }
};

// The digest of a record's bytes 6 to 74, as it is sent.
std::uint64_t record_digest(const RecordFrame& record);
std::string digest_text(std::uint64_t digest);  // 16 hexadecimal digits

std::string header_line(const LogHeader& header);  // one JSON object and its LF
std::string log_line(const LogEntry& entry);

struct LogRead {
    LogHeader header;
    std::size_t entries = 0;  // record lines read
};

// Reads a log line by line, in the same little memory whatever its size: the header, then each
// record line to each. A partial last line (a run killed while writing it) is left out. Fails
// with the reason ("line 4 is not a line of a load's log").
[[nodiscard]] FileResult<LogRead> read_log(const std::filesystem::path& path,
                                           const std::function<void(const LogEntry&)>& each);

// A log of its own for a run: the name given, or BASE.jsonl in the current folder (with -2,
// -3... when taken), BASE being for instance ktnet-load-YYYYMMDD-HHMMSS. The header line is written
// whole or not at all (under a temporary name, flushed, renamed); each later line reaches the
// system in one write.
class LogWriter {
public:
    [[nodiscard]] static FileResult<LogWriter> create(const std::string& name,
                                                      const std::string& base,
                                                      const LogHeader& header);
    [[nodiscard]] FileStatus write(const LogEntry& entry);
    const std::filesystem::path& path() const { return path_; }

private:
    LogWriter(LockedFile file, std::filesystem::path path)
        : file_(std::move(file)), path_(std::move(path)) {}
    LockedFile file_;
    std::filesystem::path path_;
};

// The name a run's log gets without --log: the first of BASE.jsonl, BASE-2.jsonl ... that does
// not exist yet.
std::optional<std::filesystem::path> fresh_log_name(const std::string& base);

}  // namespace ktnet
