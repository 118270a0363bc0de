// Windows: share mode 0, so no other process can open the file while it is held and our own
// open fails while another holds it. Output files are opened without truncation and emptied
// only once they are ours. The handle is binary: the text layer above does the CR LF.
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

HANDLE open_exclusive(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool cut_to(HANDLE file, std::uint64_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

}  // namespace

// The LockedFile handle is an integer; Windows' "no handle" must be the same value.
static_assert(sizeof(std::intptr_t) == sizeof(HANDLE));

std::optional<LockedFile> LockedFile::open_for_reading(const std::filesystem::path& path) {
    HANDLE file = open_exclusive(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    return LockedFile(as_integer(file));
}

std::optional<LockedFile> LockedFile::open_for_writing(const std::filesystem::path& path) {
    HANDLE file = open_exclusive(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    LockedFile locked(as_integer(file));
    // Emptied only now that the file is ours. Devices and pipes have nothing to empty.
    if (::GetFileType(file) == FILE_TYPE_DISK && !cut_to(file, 0)) return std::nullopt;
    return locked;
}

void LockedFile::close() {
    if (handle_ != no_handle) ::CloseHandle(as_handle(std::exchange(handle_, no_handle)));
}

bool LockedFile::write(std::span<const std::uint8_t> bytes) {
    HANDLE file = as_handle(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!::WriteFile(file, bytes.data() + done, chunk(bytes.size() - done), &n, nullptr) ||
            n == 0) {
            // A failed WriteFile may still have stored part of its bytes.
            cut_to(file, written_);
            return false;
        }
        done += n;
    }
    written_ += done;
    return true;
}

std::ptrdiff_t LockedFile::read(std::span<std::uint8_t> buffer) {
    DWORD n = 0;
    if (!::ReadFile(as_handle(handle_), buffer.data(), chunk(buffer.size()), &n, nullptr)) {
        // A pipe whose writer has gone is at its end, not broken.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(n);
}

}  // namespace ktnet
