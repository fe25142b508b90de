#pragma once
// SIGINT, SIGTERM and (not on Windows) SIGHUP during a long command. While an InterruptionGuard exists they only mark the
// process as interrupted (and cut short a read or write that waits on a pipe), so that the command
// stops between two steps, removes what it had begun and exits with interruptedExitCode().

namespace velmorant::host {

class InterruptionGuard {
public:
    InterruptionGuard();   // catches the signals on behalf of the calling thread
    ~InterruptionGuard();  // their previous handling again
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

    // The signal that arrived while a guard existed, or 0.
    static int signalNumber();
};

// 128 + the signal's number, as a shell reports a process that the signal ended: 130 for SIGINT,
// 143 for SIGTERM, 129 for SIGHUP.
int interruptedExitCode(int signalNumber);

}  // namespace velmorant::host
