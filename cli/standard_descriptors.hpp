// Descriptors 0, 1 and 2 as every later open expects them. A program started with one of them
// closed (">&-", some daemons) would otherwise give its number to the next file it opens, and
// console text meant for standard output would land in that file.
#pragma once

#include "file_error.hpp"

namespace ktnet {

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null. Call first, before any
// file or device is opened. Fails only when /dev/null cannot be opened; a file opened after
// that failure could take a standard descriptor's number. On Windows files never take a
// C runtime descriptor, and this does nothing.
[[nodiscard]] FileStatus open_missing_standard_descriptors();

}  // namespace ktnet
