#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace modelgen
{

// The generation's progress for the person waiting on it: a line per finished stage file with
// the time left, estimated from the share of the work done so far. Thread-safe.
class Progress
{
public:
    // totalWork: the work of the whole run in any unit; jobsPerFile: each file's name and how many
    // jobs it waits for; out: where the lines go (null: nowhere).
    Progress(double totalWork, std::map<std::string, size_t> jobsPerFile, std::FILE* out);

    void workDone(double units);
    // One of the file's jobs is done: the file's line when it was the last.
    void jobFinished(const std::string& file);

private:
    void fileFinished(const std::string& name);

    std::mutex lock;
    std::chrono::steady_clock::time_point started;
    double total, done = 0.0;
    std::map<std::string, size_t> jobsLeft;
    size_t files, finished = 0;
    std::FILE* stream;
};

// "1 min 05 s" or "12 s".
std::string durationText(double seconds);

} // namespace modelgen
