// Time taken, as the host's reports and limits count it: seconds on the steady clock.
#pragma once

#include <chrono>

namespace mvmhost {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace mvmhost
