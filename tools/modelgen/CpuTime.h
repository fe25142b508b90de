#pragma once

#include <chrono>
#include <ctime>

namespace modelgen
{

// The calling thread's processor time in seconds: what a job costs, whatever else the machine runs.
inline double threadCpuSeconds()
{
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0)
        return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
#endif
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace modelgen
