#include "file_error.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <system_error>
#endif

namespace ktnet {

namespace {

#ifdef _WIN32
std::string system_text(int code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result =
        n > 0 && text ? std::string(text, n) : "system error " + std::to_string(code);
    ::LocalFree(text);
    // The system's texts end with a full stop and a line break; a message goes on after them.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result;
}

FileError::Kind kind_of(int code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileError::Kind::missing;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FileError::Kind::held;
        default:
            return FileError::Kind::system;
    }
}
#else
std::string system_text(int code) {
    return std::system_category().message(code);
}

FileError::Kind kind_of(int code) {
    return code == ENOENT || code == ENOTDIR ? FileError::Kind::missing : FileError::Kind::system;
}
#endif

}  // namespace

FileError system_file_error(int code) {
    const FileError::Kind kind = kind_of(code);
    return {kind, code,
            kind == FileError::Kind::held ? "held by another program" : system_text(code)};
}

}  // namespace ktnet
