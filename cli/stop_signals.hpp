// Signals that must never cut a line in two.
//
// SIGPIPE and SIGXFSZ are ignored: a console that went away, or a file over its size limit,
// then fails the write (EPIPE, EFBIG) and the run handles it as any failed write. INT, TERM,
// HUP and QUIT (Ctrl+C and Ctrl+Break on Windows) are deferred: the handler only records the
// signal, and the run ends by itself once its current line and "*" are out.
#pragma once

namespace ktnet {

// Call once at start-up. A stop signal the program was started with ignored (nohup, a
// background job of a script) stays ignored. The handlers do not restart interrupted calls,
// so that a wait in poll() or read() returns EINTR and the run can look at
// pending_stop_signal().
void install_stop_signal_handlers();

// 0, or the number of the first stop signal received since start-up. A run that sees one
// ends with status 128 + that number.
[[nodiscard]] int pending_stop_signal();

}  // namespace ktnet
