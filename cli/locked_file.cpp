// Ownership of the handle, the same on every platform; opening, closing, reading and writing
// are in the platform's file.
#include "locked_file.hpp"

#include <utility>

namespace ktnet {

LockedFile::LockedFile(LockedFile&& other) noexcept
    : handle_(std::exchange(other.handle_, no_handle)),
      regular_(other.regular_),
      opened_as_(other.opened_as_),
      written_(other.written_) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, no_handle);
        regular_ = other.regular_;
        opened_as_ = other.opened_as_;
        written_ = other.written_;
    }
    return *this;
}

LockedFile::~LockedFile() {
    close();
}

FileResult<LockedFile> LockedFile::open_for_reading(const std::filesystem::path& path) {
    return open_held(path, Purpose::input);
}

FileResult<LockedFile> LockedFile::open_for_writing(const std::filesystem::path& path,
                                                    Contents contents) {
    return emptied_if(open_held(path, Purpose::output), contents);
}

FileResult<LockedFile> LockedFile::open_result_file(const std::filesystem::path& path,
                                                    Contents contents) {
    return emptied_if(open_held(path, Purpose::result), contents);
}

// Emptied only once held, so that a file another run holds is never emptied.
FileResult<LockedFile> LockedFile::emptied_if(FileResult<LockedFile> file, Contents contents) {
    if (file && contents == Contents::emptied) {
        auto emptied = file->empty();
        if (!emptied) return emptied.error();
    }
    return file;
}

FileResult<std::size_t> LockedFile::read(std::span<std::uint8_t> buffer) {
    auto got = read_bytes(buffer);
    if (!got || !regular_) return got;
    // Looked at after the read, so that a change before or during it is seen.
    auto now = identity();
    if (!now) return now.error();
    if (*now != opened_as_) {
        return file_refused(FileError::Kind::changed, "changed while it was being read");
    }
    return got;
}

}  // namespace ktnet
