#include "console.hpp"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define KTNET_ISATTY _isatty
#else
#include <unistd.h>
#define KTNET_ISATTY isatty
#endif

namespace ktnet {

void configure_standard_output() {
    // Unsynchronised, std::cout writes straight to descriptor 1 of the C runtime.
    std::ios::sync_with_stdio(false);
#ifdef _WIN32
    // The console has always been in text mode: the runtime shows each "\n" as CR LF, on a
    // console and in a redirected file alike. Set here so no runtime default can change it.
    _setmode(_fileno(stdout), _O_TEXT);
#endif
    if (KTNET_ISATTY(1)) std::cout.setf(std::ios::unitbuf);
}

bool standard_input_is_terminal() {
    return KTNET_ISATTY(0) != 0;
}

bool standard_error_is_terminal() {
    return KTNET_ISATTY(2) != 0;
}

}  // namespace ktnet
