// A file held exclusively for as long as it is open: no other run can open it meanwhile,
// and opening fails when another run holds it. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace ktnet {

class LockedFile {
public:
    // An existing file for reading; never created.
    static std::optional<LockedFile> open_for_reading(const std::filesystem::path& path);
    // Created if missing, emptied if present; a file held by another run is left untouched.
    static std::optional<LockedFile> open_for_writing(const std::filesystem::path& path);

    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile();

    // Hands all bytes to the operating system. On failure the file is cut back to its length
    // before the call, so that it never ends in a partial piece.
    bool write(std::span<const std::uint8_t> bytes);

    // Bytes read into buffer; 0 at the end of the file, -1 on an error.
    std::ptrdiff_t read(std::span<std::uint8_t> buffer);

private:
    explicit LockedFile(std::intptr_t handle) : handle_(handle) {}
    void close();

    static constexpr std::intptr_t no_handle = -1;
    std::intptr_t handle_ = no_handle;  // a descriptor, or a HANDLE on Windows
    std::uint64_t written_ = 0;         // the file's length: it is only ever appended to
};

}  // namespace ktnet
