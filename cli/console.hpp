// Standard output as the programs' console.
#pragma once

namespace ktnet {

// On a terminal every message is shown as soon as it is printed, so the "*" progress moves
// record by record; redirected output is block-buffered. Call once, before any output.
void configure_standard_output();

// Whether standard input (0) or standard error (2) is a terminal, where a person can be asked
// and progress can be redrawn in place.
bool standard_input_is_terminal();
bool standard_error_is_terminal();

}  // namespace ktnet
