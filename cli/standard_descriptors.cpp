#include "standard_descriptors.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace ktnet {

FileStatus open_missing_standard_descriptors() {
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is taken, and every number below fd is open by now.
        const int null_fd = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (null_fd < 0) return system_file_error(errno);
        if (null_fd != fd) {
            const int placed = ::dup2(null_fd, fd);
            ::close(null_fd);
            if (placed < 0) return system_file_error(errno);
        }
    }
#endif
    return {};
}

}  // namespace ktnet
