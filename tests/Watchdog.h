#pragma once
// Ends the test program with a message when it is not destroyed within its bound: a call that hangs
// fails its test instead of hanging it.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace velmorant::test {

class Watchdog {
public:
    Watchdog(std::chrono::seconds bound, const char* what)
        : thread_([this, bound, what] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (disarmed_.wait_for(lock, bound, [this] { return done_; })) return;
              std::fprintf(stderr, "%s did not return within %lld s\n", what, static_cast<long long>(bound.count()));
              std::fflush(stderr);
              std::abort();
          }) {}

    ~Watchdog() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        disarmed_.notify_all();
        thread_.join();
    }

    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable disarmed_;
    bool done_ = false;
    std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace velmorant::test
