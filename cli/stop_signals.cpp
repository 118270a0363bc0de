#include "stop_signals.hpp"

#include <csignal>
#include <initializer_list>

namespace ktnet {

namespace {

// The first stop signal received, or 0. The one piece of global state in the programs: a
// signal handler can reach nothing else, and a volatile sig_atomic_t is what it may write.
volatile std::sig_atomic_t received_signal = 0;

void record_stop_signal(int signal) {
    if (received_signal == 0) received_signal = signal;
#ifdef _WIN32
    // The C runtime resets the handler before calling it.
    std::signal(signal, record_stop_signal);
#endif
}

}  // namespace

#ifdef _WIN32

void install_stop_signal_handlers() {
    for (const int s : {SIGINT, SIGBREAK, SIGTERM}) std::signal(s, record_stop_signal);
}

#else

void install_stop_signal_handlers() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction deferred {};
    deferred.sa_handler = record_stop_signal;
    deferred.sa_flags = 0;  // no SA_RESTART: a waiting call returns EINTR
    sigfillset(&deferred.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &deferred, nullptr);
    }
}

#endif

int pending_stop_signal() {
    return received_signal;
}

}  // namespace ktnet
