// How the render tool hears "stop" from outside (Ctrl-C, a closed terminal, a kill): the
// signal only raises a flag, so the tool finishes the block it is in, removes what it was
// writing and leaves every existing file as it was, then ends as the signal would have
// ended it, so that a shell or a build tool still sees which signal it was. A second signal
// ends it at once.
#pragma once

namespace kf::host {

// Catches SIGINT, SIGTERM and SIGHUP (each one not ignored already: under nohup or in a
// background job the tool keeps to what it was given). A file-size limit makes a write fail
// with an error instead of killing the tool, so that it can clean up after itself too.
void catchStopSignals();

// For steps that do not look at the flag: the signals end the tool at once again.
void uncatchStopSignals();

// The signal that asked the tool to stop, or 0.
int stopSignal();

// "SIGTERM" and the like, for the message.
const char* stopSignalName();

// Ends the process with the signal that asked it to stop.
[[noreturn]] void endAsStopSignalAsked();

}  // namespace kf::host
