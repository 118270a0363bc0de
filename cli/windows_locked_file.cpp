// Windows: share mode 0, so no other process can open the file while it is held and our own
// open fails while another holds it. Output files are opened without truncation, positioned
// at their end, and emptied only on request. The handle is binary: the text layer above does
// the CR LF.
#include <windows.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "locked_file.hpp"

namespace ktnet {

namespace {

HANDLE as_handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
std::intptr_t as_integer(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// One ReadFile or WriteFile moves at most a DWORD of bytes.
DWORD chunk(std::size_t bytes) {
    return static_cast<DWORD>(std::min<std::size_t>(bytes, std::numeric_limits<DWORD>::max()));
}

bool move_to(HANDLE file, std::uint64_t position) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

bool cut_to(HANDLE file, std::uint64_t length) {
    return move_to(file, length) && ::SetEndOfFile(file);
}

FileError last_error() {
    return system_file_error(static_cast<int>(::GetLastError()));
}

// Why CreateFileW failed: a folder refuses with "access denied", which would send the user
// looking at permissions.
FileError open_failure(const std::filesystem::path& path, DWORD code) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return file_refused(FileError::Kind::not_a_file, "is a directory");
    }
    return system_file_error(static_cast<int>(code));
}

std::uint64_t join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

// The LockedFile handle is an integer; Windows' "no handle" must be the same value.
static_assert(sizeof(std::intptr_t) == sizeof(HANDLE));

FileResult<LockedFile> LockedFile::open_held(const std::filesystem::path& path, Purpose purpose) {
    const bool writing = purpose != Purpose::input;
    // The result file's name is opened as it stands: a link is seen, never followed.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (purpose == Purpose::result ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = ::CreateFileW(path.c_str(), writing ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                                  writing ? OPEN_ALWAYS : OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return open_failure(path, ::GetLastError());
    LockedFile file(as_integer(handle));  // closes the handle on every refusal below

    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_CHAR && purpose != Purpose::result) return file;
    if (type == FILE_TYPE_PIPE) return file_refused(FileError::Kind::not_a_file, "is a pipe");
    if (type != FILE_TYPE_DISK) {
        return file_refused(FileError::Kind::not_a_file, purpose == Purpose::result
                                                             ? "is not a regular file"
                                                             : "is not a file or device");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return last_error();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return file_refused(FileError::Kind::symbolic_link,
                            "is a symbolic link or another reparse point");
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return file_refused(FileError::Kind::not_a_file, "is a directory");
    }
    file.regular_ = true;
    auto now = file.identity();
    if (!now) return now.error();
    file.opened_as_ = *now;
    if (writing) {
        file.written_ = now->size;
        if (!move_to(handle, file.written_)) return last_error();
    }
    return file;
}

void LockedFile::close() {
    if (handle_ != no_handle) ::CloseHandle(as_handle(std::exchange(handle_, no_handle)));
}

FileResult<LockedFile::Identity> LockedFile::identity() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(as_handle(handle_), &info)) return last_error();
    // FILETIME counts 100 ns steps.
    return Identity{
        info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
        join(info.nFileSizeHigh, info.nFileSizeLow),
        static_cast<std::int64_t>(
            join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100)};
}

FileStatus LockedFile::write(std::span<const std::uint8_t> bytes) {
    HANDLE file = as_handle(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const bool ok =
            ::WriteFile(file, bytes.data() + done, chunk(bytes.size() - done), &n, nullptr);
        if (!ok || n == 0) {
            // A write that stores nothing and reports no error would loop for ever.
            const DWORD code = ok ? ERROR_HANDLE_DISK_FULL : ::GetLastError();
            // A failed WriteFile may still have stored part of its bytes.
            if (regular_) cut_to(file, written_);
            return system_file_error(static_cast<int>(code));
        }
        done += n;
    }
    written_ += done;
    return {};
}

FileStatus LockedFile::empty() {
    if (!regular_) return {};
    if (!cut_to(as_handle(handle_), 0)) return last_error();
    written_ = 0;
    return {};
}

FileResult<std::size_t> LockedFile::read_bytes(std::span<std::uint8_t> buffer) {
    DWORD n = 0;
    if (!::ReadFile(as_handle(handle_), buffer.data(), chunk(buffer.size()), &n, nullptr)) {
        return last_error();
    }
    return static_cast<std::size_t>(n);
}

FileStatus LockedFile::rewind() {
    if (!move_to(as_handle(handle_), 0)) return last_error();
    return {};
}

FileStatus LockedFile::sync() {
    if (!regular_) return {};
    if (!::FlushFileBuffers(as_handle(handle_))) return last_error();
    return {};
}

FileStatus LockedFile::rename_over(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    // Write-through: the call returns once the rename is on the disk.
    if (!::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return last_error();
    }
    return {};
}

FileStatus LockedFile::sync_folder(const std::filesystem::path&) {
    // NTFS journals its folder entries, and the rename was written through.
    return {};
}

}  // namespace ktnet
