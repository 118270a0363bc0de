// A private folder for the files one fuzzing process writes, removed when the process ends.
// It lies in memory (/dev/shm) unless TMPDIR names another place: a disk's journal would cut
// the executions per second by five.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace ktnet::fuzzing {

class ScratchDir {
public:
    ScratchDir() {
        std::error_code error;
        const std::filesystem::path memory = "/dev/shm";
        const auto base = !std::getenv("TMPDIR") && std::filesystem::is_directory(memory, error)
                              ? memory
                              : std::filesystem::temp_directory_path();
        std::string pattern = (base / "ktnet-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path operator/(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Where the fuzzed runs of this process keep their files.
inline const ScratchDir& scratch() {
    static const ScratchDir dir;
    return dir;
}

// A whole file's bytes; a missing file reads as empty.
inline std::string file_bytes(const std::filesystem::path& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

inline void write_file(const std::filesystem::path& path, const std::uint8_t* data,
                       std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

}  // namespace ktnet::fuzzing
