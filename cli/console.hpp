// Standard output as the programs' console.
#pragma once

namespace ktnet {

// On a terminal every message is shown as soon as it is printed, so the "*" progress moves
// record by record; redirected output is block-buffered. Call once, before any output.
void configure_standard_output();

}  // namespace ktnet
