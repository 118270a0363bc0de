#include "replaced_file.hpp"

#include <system_error>

#include "text_file.hpp"

namespace ktnet {

namespace {

FileError step_failed(const char* step, const FileError& error) {
    FileError e = error;
    e.reason = std::string(step) + ": " + error.reason;
    return e;
}

}  // namespace

FileResult<ReplacementFile> ReplacementFile::begin(const std::filesystem::path& path, Name name) {
    std::filesystem::path target = path;
    std::optional<LockedFile> old;
    std::error_code ec;
    if (name == Name::users && std::filesystem::exists(path, ec)) {
        // The file the name leads to is the one replaced, and it must not be another run's.
        target = std::filesystem::canonical(path, ec);
        if (ec) return system_file_error(ec.value());
        auto held = LockedFile::open_for_reading(target);
        if (!held) return held.error();
        if (!held->is_regular()) {
            // A device keeps nothing to replace: the content goes to it as it comes.
            auto device = LockedFile::open_for_writing(target, LockedFile::Contents::kept);
            if (!device) return device.error();
            return ReplacementFile(target, {}, std::move(*device), std::nullopt);
        }
        old = std::move(*held);
    }
    std::filesystem::path partial = target;
    partial += ".partial";
    // A leftover of a killed run, or anything planted there, is removed, never followed.
    std::filesystem::remove(partial, ec);
    auto file = LockedFile::open_result_file(partial, LockedFile::Contents::emptied);
    if (!file) return step_failed(("cannot create " + partial.string()).c_str(), file.error());
    return ReplacementFile(target, partial, std::move(*file), std::move(old));
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : path_(std::move(other.path_)),
      partial_(std::move(other.partial_)),
      file_(std::move(other.file_)),
      old_(std::move(other.old_)),
      committed_(other.committed_) {
    other.file_.reset();
    other.partial_.clear();
    other.committed_ = true;  // the moved-from object has nothing to remove
}

ReplacementFile::~ReplacementFile() {
    if (committed_ || partial_.empty()) return;
    file_.reset();
    std::error_code ec;
    std::filesystem::remove(partial_, ec);
}

FileStatus ReplacementFile::write(std::span<const std::uint8_t> bytes) {
    if (!file_) return file_refused(FileError::Kind::system, "the file is already complete");
    return file_->write(bytes);
}

FileStatus ReplacementFile::write_text(std::span<const std::uint8_t> text) {
    store_as_text(text, stored_);
    return write(stored_);
}

FileStatus ReplacementFile::commit() {
    if (!file_) return file_refused(FileError::Kind::system, "the file is already complete");
    if (partial_.empty()) {
        committed_ = true;
        file_.reset();
        return {};
    }
    if (auto synced = file_->sync(); !synced) return step_failed("cannot flush it", synced.error());
    file_.reset();  // Windows renames only a closed file
    old_.reset();
    if (auto renamed = LockedFile::rename_over(partial_, path_); !renamed) {
        return step_failed(("cannot rename " + partial_.string() + " into place").c_str(),
                           renamed.error());
    }
    committed_ = true;
    if (auto synced = LockedFile::sync_folder(path_.parent_path()); !synced)
        return step_failed("cannot flush its folder", synced.error());
    return {};
}

FileStatus replace_file(const std::filesystem::path& path, std::span<const std::uint8_t> text) {
    auto file = ReplacementFile::begin(path, ReplacementFile::Name::ours);
    if (!file) return file.error();
    if (auto written = file->write_text(text); !written) return written;
    return file->commit();
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace ktnet
