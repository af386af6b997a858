#include "tools/mvmhost/contract/host_calls.h"

#include <cstdio>
#include <cstring>

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
    std::snprintf(text, sizeof text, "%.9g (0x%08X)", static_cast<double>(value),
                  static_cast<unsigned>(bits));
    return text;
}

}  // namespace mvmhost
