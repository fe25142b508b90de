#include "Interruption.h"

#include <cerrno>
#include <csignal>
#include <cstddef>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace velmorant::host {
namespace {

#if defined(_WIN32)
constexpr int kSignals[] = {SIGINT, SIGTERM};
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};  // SIGHUP: the terminal was closed
#endif
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
volatile std::sig_atomic_t caught = 0;

#if defined(_WIN32)

using PreviousHandler = void (*)(int);
PreviousHandler previous[kSignalCount];

extern "C" void onSignal(int number) {
    caught = number;
    std::signal(number, onSignal);  // the runtime had reset it to the default
}

void install() {
    for (size_t i = 0; i < kSignalCount; ++i) previous[i] = std::signal(kSignals[i], onSignal);
}

void restore() {
    for (size_t i = 0; i < kSignalCount; ++i) std::signal(kSignals[i], previous[i]);
}

#else

struct sigaction previous[kSignalCount];
pthread_t guardedThread;

extern "C" void onSignal(int number) {
    const int savedErrno = errno;
    caught = number;
    // The system hands a process's signal to any of its threads, the plug-in's included; the
    // guarded thread, perhaps waiting on a pipe, gets it too, which only cuts that wait short.
    if (!pthread_equal(pthread_self(), guardedThread)) pthread_kill(guardedThread, number);
    errno = savedErrno;
}

void install() {
    guardedThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting read or write returns
    for (size_t i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], nullptr, &previous[i]);
        // A signal the host was started to ignore (nohup, a background job) stays ignored.
        if (previous[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
    }
}

void restore() {
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &previous[i], nullptr);
}

#endif

}  // namespace

InterruptionGuard::InterruptionGuard() {
    caught = 0;
    install();
}

InterruptionGuard::~InterruptionGuard() { restore(); }

int InterruptionGuard::signalNumber() { return caught; }

int interruptedExitCode(int signalNumber) { return 128 + signalNumber; }

}  // namespace velmorant::host
