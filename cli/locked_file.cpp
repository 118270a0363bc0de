// Ownership of the handle, the same on every platform; opening, closing, reading and writing
// are in the platform's file.
#include "locked_file.hpp"

#include <utility>

namespace ktnet {

LockedFile::LockedFile(LockedFile&& other) noexcept
    : handle_(std::exchange(other.handle_, no_handle)), written_(other.written_) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, no_handle);
        written_ = other.written_;
    }
    return *this;
}

LockedFile::~LockedFile() {
    close();
}

}  // namespace ktnet
