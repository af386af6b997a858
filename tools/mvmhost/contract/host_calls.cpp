#include "tools/mvmhost/contract/host_calls.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/mvmhost/base/user_text.h"

namespace mvmhost {

std::string showWord(intptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

std::string showSample(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[48];
    std::snprintf(text, sizeof text, "%.9g (0x%08X", static_cast<double>(value),
                  static_cast<unsigned>(bits));
    // Volts where the sample has them: 1.0 is 10 V.
    return std::string(text) + (std::isfinite(value) ? ", " + volts(value) : std::string()) + ")";
}

}  // namespace mvmhost
