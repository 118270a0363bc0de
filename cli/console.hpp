// Standard output as the programs' console.
#pragma once

namespace ktnet {

// On a terminal every message is shown as soon as it is printed, so the "*" progress moves
// record by record; redirected output is block-buffered. Call once, before any output.
//
// A console write that fails (EPIPE once a pipe's reader has gone, with SIGPIPE ignored) only
// sets std::cout's failed state, after which its output is skipped: no exception is enabled
// and nothing looks at that state, so the run goes on and its exit status stays its own.
void configure_standard_output();

// Whether standard input (0) or standard error (2) is a terminal, where a person can be asked
// and progress can be redrawn in place.
bool standard_input_is_terminal();
bool standard_error_is_terminal();

}  // namespace ktnet
