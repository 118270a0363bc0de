#include "pause.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace ktnet {

void pause_for(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) return;
#ifdef _WIN32
    ::Sleep(static_cast<DWORD>(duration.count()));
#else
    timespec left{static_cast<time_t>(duration.count() / 1000),
                  static_cast<long>(duration.count() % 1000) * 1'000'000};
    // A signal ends the pause early: the caller looks at its stop request then.
    (void)::nanosleep(&left, &left);
#endif
}

}  // namespace ktnet
