#include "ProgressBar.h"

#include <cstdio>
#include <unistd.h>

namespace velmorant::host {

ProgressBar::ProgressBar(size_t total, bool enabled) : total_(total), enabled_(enabled && ::isatty(2) == 1) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(size_t done) {
    if (!enabled_ || total_ == 0) return;
    const int percent = static_cast<int>(done >= total_ ? 100 : done * 100 / total_);
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (enabled_ && shownPercent_ >= 0) std::fputc('\n', stderr);
    enabled_ = false;
}

}  // namespace velmorant::host
