#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace modelgen
{

// The generation's progress for the person waiting on it: a line per finished stage file with
// the time left, estimated from the share of the work done so far. Thread-safe.
class Progress
{
public:
    // totalWork: the work of the whole run in any unit; out: where the lines go (null: nowhere).
    Progress(double totalWork, size_t fileCount, std::FILE* out);

    void workDone(double units);
    void fileFinished(const std::string& name);

private:
    std::mutex lock;
    std::chrono::steady_clock::time_point started;
    double total, done = 0.0;
    size_t files, finished = 0;
    std::FILE* stream;
};

// "1 min 05 s" or "12 s".
std::string durationText(double seconds);

} // namespace modelgen
