#include "shop/load_log.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "cli/replaced_file.hpp"
#include "cli/text_file.hpp"
#include "formats/json_text.hpp"
#include "formats/plu_files.hpp"

namespace ktnet {

namespace {

// Far longer than any line a log holds; short enough that a file without line ends costs no
// memory.
constexpr std::size_t log_line_cap = 16384;

std::string text(const std::string& t) {
    return json_document(nlohmann::json(t), -1);
}

FileError not_a_log(std::size_t line) {
    return file_refused(FileError::Kind::not_a_file,
                        fmt::format("line {} is not a line of a load's log", line));
}

}  // namespace

std::uint64_t record_digest(const RecordFrame& record) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = payload_index; i < record_checksum_index; ++i) {
        h ^= record[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string digest_text(std::uint64_t digest) {
    return fmt::format("{:016x}", digest);
}

std::string header_line(const LogHeader& h) {
    nlohmann::json j = {{"ktnet_load_log", load_log_version},
                        {"time", h.time},
                        {"file", h.file},
                        {"scales", h.scales},
                        {"verify", h.verify}};
    if (!h.resumes.empty()) j["resumes"] = h.resumes;
    return json_document(j, -1) + "\n";
}

std::string log_line(const LogEntry& e) {
    // Written by hand in the documented order. A JSON document per record costs more than the
    // line itself is worth next to an 8 ms exchange.
    std::string line = fmt::format(
        R"({{"time":{},"scale":{},"line":{},"plu":{},"name":{},"result":{},"attempts":{},"digest":"{}")",
        text(e.time), text(e.scale), e.line, e.plu, text(e.name), text(e.result), e.attempts,
        digest_text(e.digest));
    if (!e.fields.empty()) {
        line += R"(,"fields":[)";
        for (std::size_t i = 0; i < e.fields.size(); ++i)
            line += fmt::format("{}{}", i == 0 ? "" : ",", text(e.fields[i]));
        line += ']';
    }
    line += "}\n";
    return line;
}

FileResult<LogRead> read_log(const std::filesystem::path& path,
                             const std::function<void(const LogEntry&)>& each) {
    auto file = LockedFile::open_for_reading(path);
    if (!file) return file.error();
    TextReader reader(std::move(*file));
    LogRead read;
    std::string line;
    std::size_t number = 0;
    bool header_seen = false;
    for (;;) {
        const TextReader::Line got = reader.read_line(line, log_line_cap);
        if (got == TextReader::Line::end) break;
        if (got == TextReader::Line::failed || got == TextReader::Line::changed)
            return reader.error();
        ++number;
        if (got == TextReader::Line::too_long) return not_a_log(number);
        if (line.find_first_not_of(" \r\t") == std::string::npos) continue;
        const auto j = nlohmann::json::parse(line, nullptr, false);
        // A run killed while writing leaves at most a partial last line.
        const bool last = reader.end().mid_line;
        if (j.is_discarded() || !j.is_object()) {
            if (last) break;
            return not_a_log(number);
        }
        try {
            if (!header_seen) {
                if (!j.contains("ktnet_load_log")) {
                    return file_refused(
                        FileError::Kind::not_a_file,
                        "it has no header line: it is not a load's log, or an older ktnet wrote "
                        "it without the records' digests (start the load again without "
                        "--resume)");
                }
                read.header.time = j.at("time").get<std::string>();
                read.header.file = j.at("file").get<std::string>();
                read.header.scales = j.at("scales").get<std::vector<std::string>>();
                read.header.verify = j.at("verify").get<bool>();
                read.header.resumes = j.value("resumes", std::string());
                header_seen = true;
                continue;
            }
            LogEntry e;
            e.time = j.at("time").get<std::string>();
            e.scale = j.at("scale").get<std::string>();
            e.line = j.at("line").get<std::size_t>();
            e.plu = j.at("plu").get<std::uint32_t>();
            e.name = j.at("name").get<std::string>();
            e.result = j.at("result").get<std::string>();
            e.attempts = j.at("attempts").get<unsigned>();
            e.digest = std::stoull(j.at("digest").get<std::string>(), nullptr, 16);
            ++read.entries;
            each(e);
        } catch (const std::exception&) {
            if (last) break;
            return not_a_log(number);
        }
    }
    if (!header_seen) {
        return file_refused(FileError::Kind::not_a_file, "it is empty: no load's log");
    }
    return read;
}

std::optional<std::filesystem::path> fresh_log_name(const std::string& base) {
    std::error_code ec;
    for (unsigned n = 1; n < 1000; ++n) {
        std::filesystem::path candidate =
            fmt::format("{}{}.jsonl", base, n == 1 ? std::string() : fmt::format("-{}", n));
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)))
            return candidate;
    }
    return std::nullopt;
}

FileResult<LogWriter> LogWriter::create(const std::string& name, const std::string& base,
                                        const LogHeader& header) {
    std::optional<std::filesystem::path> path = name.empty() ? fresh_log_name(base) : path_of(name);
    if (!path) return file_refused(FileError::Kind::system, "not a file name");
    // Never over an earlier run's log unless named: each run keeps its own.
    auto first = ReplacementFile::begin(
        *path, name.empty() ? ReplacementFile::Name::ours : ReplacementFile::Name::users);
    if (!first) return first.error();
    const std::string head = header_line(header);
    if (auto written =
            first->write({reinterpret_cast<const std::uint8_t*>(head.data()), head.size()});
        !written)
        return written.error();
    if (auto committed = first->commit(); !committed) return committed.error();
    auto file = LockedFile::open_for_writing(first->path(), LockedFile::Contents::kept);
    if (!file) return file.error();
    return LogWriter(std::move(*file), first->path());
}

FileStatus LogWriter::write(const LogEntry& entry) {
    const std::string line = log_line(entry);
    return file_.write({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
}

}  // namespace ktnet
