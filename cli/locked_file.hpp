// A file held exclusively for as long as it is open: no other run can open it meanwhile,
// and opening fails when another run holds it. One implementation per platform.
//
// Every opener refuses, without waiting, what cannot hold lines: a FIFO or socket would block
// the run, a folder has no bytes. Each failure comes back with its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "file_error.hpp"

namespace ktnet {

class LockedFile {
public:
    // What opening for writing does with what the file already holds.
    enum class Contents {
        emptied,  // emptied as soon as the file is held
        kept,     // kept until empty(); writes before that go after it
    };

    // An existing regular file or character device, for reading; never created.
    [[nodiscard]] static FileResult<LockedFile> open_for_reading(const std::filesystem::path& path);
    // A regular file or character device, created if missing. A file held by another run is
    // never emptied.
    [[nodiscard]] static FileResult<LockedFile> open_for_writing(const std::filesystem::path& path,
                                                                 Contents contents);
    // A file whose name the user never typed: a regular file only, created if missing, and
    // never opened through a symbolic link (nor, on Windows, any reparse point).
    [[nodiscard]] static FileResult<LockedFile> open_result_file(const std::filesystem::path& path,
                                                                 Contents contents);

    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile();

    // Hands all bytes to the operating system. On failure the file is cut back to its length
    // before the call, so that it never ends in a partial piece.
    [[nodiscard]] FileStatus write(std::span<const std::uint8_t> bytes);

    // Empties the file, which then grows from its start. A device has nothing to empty.
    [[nodiscard]] FileStatus empty();

    // Bytes read into buffer, 0 at the end of the file. A regular file whose identity, size or
    // modification time differs from when it was opened fails with Kind::changed: the bytes
    // just read may be new ones.
    [[nodiscard]] FileResult<std::size_t> read(std::span<std::uint8_t> buffer);

    // Reads again from the start of the file.
    [[nodiscard]] FileStatus rewind();

    // Makes everything written so far durable: on the disk, not only in the system's cache.
    [[nodiscard]] FileStatus sync();

    // A regular file, not a device.
    bool is_regular() const { return regular_; }
    // A regular file's size when it was opened; nothing for a device.
    std::optional<std::uint64_t> size() const {
        return regular_ ? std::optional<std::uint64_t>(opened_as_.size) : std::nullopt;
    }

    // Renames from over to, replacing it, durably where the platform can say so.
    [[nodiscard]] static FileStatus rename_over(const std::filesystem::path& from,
                                                const std::filesystem::path& to);
    // Makes the folder's entries durable (a rename in it survives a power cut). Nothing to do
    // where the platform journals them itself.
    [[nodiscard]] static FileStatus sync_folder(const std::filesystem::path& folder);

private:
    // What says that a regular file is still the one that was opened. All zero for a device,
    // which is never compared.
    struct Identity {
        std::uint64_t volume = 0, index = 0, size = 0;
        std::int64_t modified_ns = 0;
        bool operator==(const Identity&) const = default;
    };

    // Which opener: the rules differ in what they accept and whether they may create.
    enum class Purpose { input, output, result };

    explicit LockedFile(std::intptr_t handle) : handle_(handle) {}
    // Opens, checks what was opened and takes the lock; contents are always kept.
    [[nodiscard]] static FileResult<LockedFile> open_held(const std::filesystem::path& path,
                                                          Purpose purpose);
    [[nodiscard]] static FileResult<LockedFile> emptied_if(FileResult<LockedFile> file,
                                                           Contents contents);
    void close();
    [[nodiscard]] FileResult<std::size_t> read_bytes(std::span<std::uint8_t> buffer);
    [[nodiscard]] FileResult<Identity> identity() const;

    static constexpr std::intptr_t no_handle = -1;
    std::intptr_t handle_ = no_handle;  // a descriptor, or a HANDLE on Windows
    bool regular_ = false;              // a regular file, not a device
    Identity opened_as_;
    std::uint64_t written_ = 0;  // the length: appended to, emptied, never written within
};

}  // namespace ktnet
