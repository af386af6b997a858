// A render's progress, for a person watching it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace mvmhost {

// Drawn on standard error for renders that take a while, and only for a person watching:
// the share done, then the time taken and, in brackets, the time still to go.
class ProgressBar {
public:
    ProgressBar(int64_t total, bool shown)
        : total_(total), shown_(shown && stderrIsTerminal()), start_(Clock::now()), last_(start_) {}
    ~ProgressBar() { clear(); }
    void update(int64_t done);
    // Takes the bar off its line, so that a message can stand there.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int kBarWidth = 40;
    static constexpr int kLineWidth = 79;
    static constexpr auto kQuietStart = std::chrono::milliseconds(500);
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

    static bool stderrIsTerminal();

    int64_t total_;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_, last_;
};

}  // namespace mvmhost
