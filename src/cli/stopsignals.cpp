// The signal handlers behind CStopSignals. A handler may only store a sig_atomic_t, so the
// signal number is the one process-wide value here.
#include "cli/stopsignals.h"

#include <signal.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t g_nStopSignal = 0;

void OnStopSignal(int signal) {
    g_nStopSignal = signal;
}

}  // namespace

CStopSignals& CStopSignals::Install() {
    static CStopSignals signals = [] {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // The default action comes back after the first signal: a second one ends the process.
        action.sa_flags = SA_RESETHAND;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        return CStopSignals();
    }();
    return signals;
}

int CStopSignals::Signal() const {
    return g_nStopSignal;
}
