#include "pty_readiness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace ktnet::emu {

namespace {

// A byte written to the master reaches the other side through the kernel's work queue, a few
// microseconds later; this bounds the wait for it when it is taken back.
constexpr int arrival_wait_ms = 1000;

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<PtyReadiness> PtyReadiness::open(int master, std::string& error) {
    std::array<char, 128> name{};
    if (master < 0 || ptsname_r(master, name.data(), name.size()) != 0) {
        error = "the device node has no pseudo-terminal";
        return nullptr;
    }
    const int slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error = system_error(name.data());
        return nullptr;
    }
    // Raw: a single byte is readable as it arrives, and nothing is echoed back to the master.
    termios mode{};
    if (tcgetattr(slave, &mode) != 0) {
        error = system_error("tcgetattr");
        ::close(slave);
        return nullptr;
    }
    cfmakeraw(&mode);
    if (tcsetattr(slave, TCSANOW, &mode) != 0) {
        error = system_error("tcsetattr");
        ::close(slave);
        return nullptr;
    }
    return std::unique_ptr<PtyReadiness>(new PtyReadiness(master, slave));
}

PtyReadiness::~PtyReadiness() {
    ::close(slave_);
}

void PtyReadiness::set(bool readable) {
    if (readable == readable_) return;
    if (readable) {
        const char byte = 'r';
        while (::write(master_, &byte, 1) < 0 && errno == EINTR) {
        }
    } else {
        std::array<char, 64> scrap;
        for (;;) {
            pollfd p{slave_, POLLIN, 0};
            if (::poll(&p, 1, arrival_wait_ms) <= 0 && errno != EINTR) break;
            if (::read(slave_, scrap.data(), scrap.size()) > 0) break;
        }
    }
    readable_ = readable;
}

}  // namespace ktnet::emu
