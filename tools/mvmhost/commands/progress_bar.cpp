#include "tools/mvmhost/commands/progress_bar.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define MVMHOST_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define MVMHOST_ISATTY(f) isatty(fileno(f))
#endif

namespace mvmhost {
namespace {

std::string clockTime(double seconds) {
    const auto s = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

}  // namespace

void ProgressBar::clear() {
    if (drawn_) std::fprintf(stderr, "\r%*s\r", kLineWidth, "");
    drawn_ = false;
}

bool ProgressBar::stderrIsTerminal() { return MVMHOST_ISATTY(stderr) != 0; }

void ProgressBar::update(int64_t done) {
    if (!shown_ || total_ <= 0 || done <= 0) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietStart || now - last_ < kRedrawEvery) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double remaining = elapsed * double(total_ - done) / double(done);
    const int filled = static_cast<int>(kBarWidth * done / total_);
    std::fprintf(stderr, "\r[%s%*s] %3d%%  %s [%s]",
                 std::string(static_cast<size_t>(filled), '#').c_str(), kBarWidth - filled, "",
                 static_cast<int>(100 * done / total_), clockTime(elapsed).c_str(),
                 clockTime(remaining).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace mvmhost
