// POSIX: an exclusive flock() taken without waiting. Output files are opened without
// truncation, locked, and only then emptied, so a file held elsewhere is never emptied.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "locked_file.hpp"

namespace ktnet {

namespace {

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// Locks the fresh descriptor, or closes it and returns nothing. Directories are refused, as
// they cannot hold lines. Returns the file's mode.
std::optional<mode_t> lock(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return st.st_mode;
}

}  // namespace

std::optional<LockedFile> LockedFile::open_for_reading(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !lock(fd)) return std::nullopt;
    return LockedFile(fd);
}

std::optional<LockedFile> LockedFile::open_for_writing(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return std::nullopt;
    const auto mode = lock(fd);
    if (!mode) return std::nullopt;
    // Emptied only now that the file is ours. Devices and pipes have nothing to empty.
    if (S_ISREG(*mode) && ftruncate(fd, 0) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return LockedFile(fd);
}

void LockedFile::close() {
    if (handle_ != no_handle) ::close(descriptor(std::exchange(handle_, no_handle)));
}

bool LockedFile::write(std::span<const std::uint8_t> bytes) {
    const int fd = descriptor(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (done > 0 && ftruncate(fd, static_cast<off_t>(written_)) == 0) {
                lseek(fd, static_cast<off_t>(written_), SEEK_SET);
            }
            return false;
        }
    }
    written_ += done;
    return true;
}

std::ptrdiff_t LockedFile::read(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::read(descriptor(handle_), buffer.data(), buffer.size());
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

}  // namespace ktnet
