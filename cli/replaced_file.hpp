// A file replaced whole or not at all. Its new content is written under a name of its own in
// the same folder (the name plus ".partial"), flushed to the disk, and only then renamed over
// the old file, and the rename itself is flushed: whatever happens on the way (a full disk, a
// file-size limit, a kill, a power cut), the name holds either all of the old content or all of
// the new, never a part.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "locked_file.hpp"

namespace ktnet {

class ReplacementFile {
public:
    // Whose name this is.
    enum class Name {
        ours,  // a name the program chose (a backup, a saved scale): replaced as it stands
        // A name the user typed: a symbolic link is followed to the file it names, a file held
        // by another run is refused, and a character device (/dev/stdout) is written directly,
        // as it has no content to keep.
        users,
    };

    [[nodiscard]] static FileResult<ReplacementFile> begin(const std::filesystem::path& path,
                                                           Name name);

    ReplacementFile(ReplacementFile&&) noexcept;
    ReplacementFile& operator=(ReplacementFile&&) = delete;
    ReplacementFile(const ReplacementFile&) = delete;
    ~ReplacementFile();  // not committed: the new content is removed, the old file untouched

    // The bytes as they are.
    [[nodiscard]] FileStatus write(std::span<const std::uint8_t> bytes);
    // Text as the programs store it: each LF as CR LF.
    [[nodiscard]] FileStatus write_text(std::span<const std::uint8_t> text);

    // Flushes the new content, renames it into place and flushes the folder. After a failure the
    // old file is untouched and the new content gone.
    [[nodiscard]] FileStatus commit();

    // Where the content goes in the end.
    const std::filesystem::path& path() const { return path_; }

private:
    ReplacementFile(std::filesystem::path path, std::filesystem::path partial, LockedFile file,
                    std::optional<LockedFile> old)
        : path_(std::move(path)),
          partial_(std::move(partial)),
          file_(std::move(file)),
          old_(std::move(old)) {}

    std::filesystem::path path_;
    std::filesystem::path partial_;  // empty when the content goes straight to a device
    std::optional<LockedFile> file_;
    std::optional<LockedFile> old_;  // the user's old file, held until it is replaced
    std::vector<std::uint8_t> stored_;
    bool committed_ = false;
};

// Replaces the file at path (a name of the program's own) with text, stored as text (each LF as
// CR LF).
[[nodiscard]] FileStatus replace_file(const std::filesystem::path& path,
                                      std::span<const std::uint8_t> text);

// True when both names lead to the same file (the same device and index, whatever the names).
[[nodiscard]] bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace ktnet
