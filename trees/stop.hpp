#pragma once

// Stopping a run cleanly: on a signal that ends it (Ctrl-C, kill, a closed
// terminal), and when standard output cannot be written (a reader that went
// away, a full disk). The workers see the request at their next step, every
// temporary file is removed, and the process ends as the cause would have
// ended it.
namespace trees {

// SIGINT, SIGTERM, SIGHUP and SIGQUIT ask the run to stop, and SIGPIPE is
// ignored, so that a broken pipe is a failed write (Windows: Ctrl-C and
// Ctrl-Break).
void watchForStopSignals();

void requestStop(int signal) noexcept;
bool stopRequested() noexcept;
// The signal that asked to stop (SIGPIPE for a broken pipe), or 0 when
// something else did, or nothing.
int stopSignal() noexcept;

// Ends the process as the signal would have: by the signal itself, with its
// default action.
[[noreturn]] void endBySignal(int signal);

}  // namespace trees
