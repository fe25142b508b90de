#pragma once
// A one-line progress bar on the terminal; silent when standard error is not a terminal.

#include <cstddef>

namespace velmorant::host {

class ProgressBar {
public:
    ProgressBar(size_t total, bool enabled);
    ~ProgressBar();
    void update(size_t done);
    void finish();

private:
    size_t total_;
    bool enabled_;
    int shownPercent_ = -1;
};

}  // namespace velmorant::host
