// Why a file could not be opened, read or written, kept for the program to report, and the
// result type that carries either a value or that reason.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "base/result.hpp"

namespace ktnet {

struct FileError {
    enum class Kind {
        missing,        // no such file (or folder on its path)
        held,           // another run holds it
        not_a_file,     // a folder, FIFO, socket or block device, or not what this file must be
        symbolic_link,  // a name that must never be followed is a symbolic link
        changed,        // its contents changed while it was being read
        system,         // any other refusal by the operating system
    };

    Kind kind = Kind::system;
    int code = 0;        // errno, or GetLastError() on Windows; 0 when the refusal is ours
    std::string reason;  // one phrase for a message: the system's text, or ours
};

// The system's failure code as a FileError, with the system's text. A code that means "held
// by another run" or "missing" gets that kind.
[[nodiscard]] FileError system_file_error(int code);

// A refusal of our own: no system code, our words.
[[nodiscard]] inline FileError file_refused(FileError::Kind kind, std::string reason) {
    return {kind, 0, std::move(reason)};
}

// A value, or the reason there is none; success, or why not.
template <class T = std::monostate>
using FileResult = Result<T, FileError>;
using FileStatus = FileResult<>;

}  // namespace ktnet
