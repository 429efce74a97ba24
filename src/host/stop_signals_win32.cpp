// Windows asks a console program to stop through its console control handler, which the
// system calls on a thread of its own: Ctrl-C, Ctrl-Break, the console window closing.
#include <windows.h>

#include <atomic>

#include "host/stop_signals.h"

namespace kf::host {
namespace {

std::atomic<DWORD> gStopEvent{0};
std::atomic<bool> gStopping{false};

// The system ends the program once the handler of a closing console returns (and after a
// few seconds in any case): the handler waits here while the tool cleans up.
constexpr DWORD kCloseWaitMs = 4000;

BOOL WINAPI noteStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    // A second request ends the tool at once, should the first meet a step that never looks.
    if (gStopping.exchange(true)) return FALSE;
    gStopEvent.store(event + 1);
    if (event == CTRL_CLOSE_EVENT) Sleep(kCloseWaitMs);
    return TRUE;
}

}  // namespace

void catchStopSignals() {
    SetConsoleCtrlHandler(noteStop, TRUE);
}

void uncatchStopSignals() {
    SetConsoleCtrlHandler(noteStop, FALSE);
}

int stopSignal() {
    return static_cast<int>(gStopEvent.load());
}

const char* stopSignalName() {
    switch (gStopEvent.load()) {
        case CTRL_C_EVENT + 1:
            return "Ctrl-C";
        case CTRL_BREAK_EVENT + 1:
            return "Ctrl-Break";
        case CTRL_CLOSE_EVENT + 1:
            return "the console closing";
        default:
            return "a stop request";
    }
}

void endAsStopSignalAsked() {
    // The exit status a program ended by Ctrl-C has on Windows (STATUS_CONTROL_C_EXIT).
    ExitProcess(0xC000013AU);
}

}  // namespace kf::host
