#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "host/stop_signals.h"

namespace kf::host {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A second signal ends the tool at once, should the first meet a step that never looks.
void noteStop(int signal) {
    if (gStopSignal != 0) {
        std::signal(signal, SIG_DFL);
        ::raise(signal);
    }
    gStopSignal = signal;
}

}  // namespace

void catchStopSignals() {
    for (const int signal : kStopSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = noteStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

void uncatchStopSignals() {
    for (const int signal : kStopSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == noteStop)
            std::signal(signal, SIG_DFL);
    }
}

int stopSignal() {
    return gStopSignal;
}

const char* stopSignalName() {
    switch (gStopSignal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

void endAsStopSignalAsked() {
    const int signal = gStopSignal != 0 ? gStopSignal : SIGTERM;
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace kf::host
