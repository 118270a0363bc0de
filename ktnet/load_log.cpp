#include "load_log.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "plu_files.hpp"

namespace ktnet {

std::string log_line(const LogEntry& e) {
    // Written by hand in the documented order; nlohmann escapes the texts. A JSON document per
    // record costs more than the line itself is worth next to an 8 ms exchange.
    const auto text = [](const std::string& t) {
        return nlohmann::json(t).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    std::string line = fmt::format(
        R"({{"time":{},"scale":{},"line":{},"plu":{},"name":{},"result":{},"attempts":{})",
        text(e.time), text(e.scale), e.line, e.plu, text(e.name), text(e.result), e.attempts);
    if (!e.fields.empty()) {
        line += R"(,"fields":[)";
        for (std::size_t i = 0; i < e.fields.size(); ++i)
            line += fmt::format("{}{}", i == 0 ? "" : ",", text(e.fields[i]));
        line += ']';
    }
    line += "}\n";
    return line;
}

LogRead read_done_entries(const std::filesystem::path& path) {
    const auto bytes = read_file_bytes(path.string());
    if (!bytes) return {{}, fmt::format("cannot read {}: {}", path.string(), bytes.error().reason)};
    LogRead read;
    std::size_t number = 0;
    for (std::size_t start = 0; start < bytes->size();) {
        std::size_t end = bytes->find('\n', start);
        if (end == std::string::npos) end = bytes->size();
        const std::string_view text(bytes->data() + start, end - start);
        start = end + 1;
        ++number;
        // A run killed while writing leaves at most a partial last line: it is not done.
        if (text.find_first_not_of(" \r\t") == std::string_view::npos) continue;
        try {
            const auto j = nlohmann::json::parse(text);
            LogEntry e;
            e.time = j.at("time").get<std::string>();
            e.scale = j.at("scale").get<std::string>();
            e.line = j.at("line").get<std::size_t>();
            e.plu = j.at("plu").get<std::uint32_t>();
            e.name = j.at("name").get<std::string>();
            e.result = j.at("result").get<std::string>();
            e.attempts = j.at("attempts").get<unsigned>();
            if (e.done()) read.done.push_back(std::move(e));
        } catch (const nlohmann::json::exception&) {
            if (end == bytes->size()) continue;  // the partial last line of a killed run
            return {
                {},
                fmt::format("{}: line {} is not a line of a load's log", path.string(), number)};
        }
    }
    return read;
}

std::optional<LogWriter> LogWriter::create(const std::string& name, const std::string& stamp,
                                           std::string& error) {
    std::optional<std::filesystem::path> path;
    if (!name.empty()) {
        path = path_of(name);
    } else {
        // Never over an earlier run's log: each run keeps its own.
        std::error_code ec;
        for (unsigned n = 1; n < 1000; ++n) {
            std::filesystem::path candidate = fmt::format(
                "ktnet-load-{}{}.jsonl", stamp, n == 1 ? std::string() : fmt::format("-{}", n));
            if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
                path = candidate;
                break;
            }
        }
    }
    if (!path) {
        error = fmt::format("cannot create the log {}: not a file name", name);
        return std::nullopt;
    }
    // A name of our own is a regular file, never followed through a symbolic link.
    auto file = name.empty() ? LockedFile::open_result_file(*path, LockedFile::Contents::emptied)
                             : LockedFile::open_for_writing(*path, LockedFile::Contents::emptied);
    if (!file) {
        error = fmt::format("cannot create the log {}: {}", path->string(), file.error().reason);
        return std::nullopt;
    }
    return LogWriter(std::move(*file), std::move(*path));
}

bool LogWriter::write(const LogEntry& entry) {
    const std::string text = log_line(entry);
    return static_cast<bool>(
        file_.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

}  // namespace ktnet
