#include "console.hpp"

#include <iostream>

#ifdef _WIN32
#include <io.h>
#define KTNET_ISATTY _isatty
#else
#include <unistd.h>
#define KTNET_ISATTY isatty
#endif

namespace ktnet {

void configure_standard_output() {
    std::ios::sync_with_stdio(false);
    if (KTNET_ISATTY(1)) std::cout.setf(std::ios::unitbuf);
}

}  // namespace ktnet
