#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace modelgen
{

Progress::Progress(double totalWork, std::map<std::string, size_t> jobsPerFile, std::FILE* out)
    : started(std::chrono::steady_clock::now()), total(totalWork), jobsLeft(std::move(jobsPerFile)),
      files(jobsLeft.size()), stream(out)
{
}

void Progress::workDone(double units)
{
    const std::lock_guard<std::mutex> guard(lock);
    done += units;
}

void Progress::jobFinished(const std::string& file)
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto left = jobsLeft.find(file);
    if (left != jobsLeft.end() && left->second > 0 && --left->second == 0)
        fileFinished(file);
}

// Called with the lock held.
void Progress::fileFinished(const std::string& name)
{
    ++finished;
    if (stream == nullptr)
        return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double share = total > 0.0 ? std::clamp(done / total, 0.0, 1.0) : 1.0;
    std::string left = "done";
    if (finished < files)
        left = share > 0.0 ? "about " + durationText(elapsed * (1.0 - share) / share) + " left" : "estimating";
    std::fprintf(stream, "model data %zu/%zu %s (%s elapsed, %s)\n", finished, files, name.c_str(),
                 durationText(elapsed).c_str(), left.c_str());
    std::fflush(stream);
}

std::string durationText(double seconds)
{
    const long whole = std::lround(std::max(seconds, 0.0));
    char text[40];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%ld s", whole);
    else
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    return text;
}

} // namespace modelgen
