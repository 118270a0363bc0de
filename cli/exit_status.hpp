// Process exit statuses of both programs.
#pragma once

namespace ktnet::exit_status {

inline constexpr int success = 0;            // the whole range was moved
inline constexpr int invalid_arguments = 1;  // bad command line, or the named file would not open
inline constexpr int no_answer = 2;          // the scale gave no valid answer (or no controller)
inline constexpr int bad_input = 3;          // ldk: an unreadable line, or the file ended early
inline constexpr int file_error = 4;       // a result or output file could not be opened or written
inline constexpr int controller_held = 5;  // another run holds the controller; nothing was sent

// A run ended early by a stop signal (INT, TERM, HUP, QUIT), as shells report one.
inline constexpr int stopped_by(int signal) {
    return 128 + signal;
}

}  // namespace ktnet::exit_status
