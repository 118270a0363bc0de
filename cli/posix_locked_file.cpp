// POSIX: an exclusive flock() taken without waiting. Files are opened non-blocking, so that a
// FIFO without a peer cannot hold the run inside open(), checked with fstat, and only then
// made blocking again and locked. Output files are opened in append mode: their contents
// stay until empty(), and every write lands at the end.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "locked_file.hpp"

namespace ktnet {

namespace {

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// What a file type that cannot hold lines is called in a message.
std::string type_text(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO";
    if (S_ISSOCK(mode)) return "is a socket";
    if (S_ISBLK(mode)) return "is a block device";
    return "is not a regular file or character device";
}

// Why open() failed, said as precisely as the name allows: a FIFO, socket or folder is named
// as such rather than by the errno its open got (ENXIO, EISDIR), and a refused link as a link.
FileError open_failure(const std::filesystem::path& path, int code, bool follow_links) {
    struct stat st {};
    if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0) {
        if (S_ISLNK(st.st_mode)) {
            return file_refused(FileError::Kind::symbolic_link, "is a symbolic link");
        }
        if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
            return file_refused(FileError::Kind::not_a_file, type_text(st.st_mode));
        }
    }
    return system_file_error(code);
}

}  // namespace

FileResult<LockedFile> LockedFile::open_held(const std::filesystem::path& path, Purpose purpose) {
    const int access = purpose == Purpose::input ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
    const int links = purpose == Purpose::result ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), access | links | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return open_failure(path, errno, links == 0);
    LockedFile file(fd);  // closes the descriptor on every refusal below

    struct stat st {};
    if (::fstat(fd, &st) != 0) return system_file_error(errno);
    if (purpose == Purpose::result && !S_ISREG(st.st_mode)) {
        return file_refused(FileError::Kind::not_a_file, "is not a regular file");
    }
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
        return file_refused(FileError::Kind::not_a_file, type_text(st.st_mode));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return system_file_error(errno);
    }
    // A device has no contents to guard, and /dev/null must serve any number of runs at once.
    if (!S_ISREG(st.st_mode)) return file;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return file_refused(FileError::Kind::held, "held by another program");
        }
        return system_file_error(errno);
    }
    file.regular_ = true;
    file.written_ = static_cast<std::uint64_t>(st.st_size);
    auto now = file.identity();
    if (!now) return now.error();
    file.opened_as_ = *now;
    return file;
}

void LockedFile::close() {
    if (handle_ != no_handle) ::close(descriptor(std::exchange(handle_, no_handle)));
}

FileResult<LockedFile::Identity> LockedFile::identity() const {
    struct stat st {};
    if (::fstat(descriptor(handle_), &st) != 0) return system_file_error(errno);
    return Identity{
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::uint64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

FileStatus LockedFile::write(std::span<const std::uint8_t> bytes) {
    const int fd = descriptor(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // A write that stores nothing and reports no error would loop for ever.
            const int code = n < 0 ? errno : ENOSPC;
            // In append mode the next write lands at the cut.
            if (done > 0 && regular_) (void)::ftruncate(fd, static_cast<off_t>(written_));
            return system_file_error(code);
        }
    }
    written_ += done;
    return {};
}

FileStatus LockedFile::empty() {
    if (!regular_) return {};
    if (::ftruncate(descriptor(handle_), 0) != 0) return system_file_error(errno);
    written_ = 0;
    return {};
}

FileResult<std::size_t> LockedFile::read_bytes(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::read(descriptor(handle_), buffer.data(), buffer.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return system_file_error(errno);
    }
}

FileStatus LockedFile::rewind() {
    if (::lseek(descriptor(handle_), 0, SEEK_SET) < 0) return system_file_error(errno);
    return {};
}

FileStatus LockedFile::sync() {
    // A device (a terminal, /dev/stdout) has nothing to make durable and may refuse.
    if (!regular_) return {};
    while (::fsync(descriptor(handle_)) != 0) {
        if (errno != EINTR) return system_file_error(errno);
    }
    return {};
}

FileStatus LockedFile::rename_over(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return system_file_error(errno);
    return {};
}

FileStatus LockedFile::sync_folder(const std::filesystem::path& folder) {
    const std::filesystem::path name = folder.empty() ? "." : folder;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return system_file_error(errno);
    int result = 0;
    while ((result = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    const int code = errno;
    ::close(fd);
    // Some file systems cannot sync a folder at all; their renames are as durable as they get.
    if (result != 0 && code != EINVAL && code != ENOTSUP) return system_file_error(code);
    return {};
}

}  // namespace ktnet
