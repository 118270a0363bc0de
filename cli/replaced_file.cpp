#include "replaced_file.hpp"

#include "text_file.hpp"

namespace ktnet {

bool replace_file(const std::filesystem::path& path, std::span<const std::uint8_t> text,
                  std::string& why) {
    std::filesystem::path partial = path;
    partial += ".partial";
    std::error_code ec;
    // A leftover from a killed run, or anything planted there, is removed, never followed.
    std::filesystem::remove(partial, ec);
    // The user never typed this name: a regular file only, never through a symbolic link.
    auto file = LockedFile::open_result_file(partial, LockedFile::Contents::emptied);
    const FileStatus written =
        file ? TextWriter(std::move(*file)).write(text) : FileStatus(file.error());
    if (!written) {
        why = "cannot write " + partial.string() + ": " + written.error().reason;
        std::filesystem::remove(partial, ec);
        return false;
    }
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        why = "cannot rename " + partial.string() + " to " + path.string() + ": " + ec.message();
        std::filesystem::remove(partial, ec);
        return false;
    }
    return true;
}

}  // namespace ktnet
