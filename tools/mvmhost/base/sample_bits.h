// Samples told apart by their exact bits: marker NaNs no arithmetic produces.
#pragma once

#include <cstdint>
#include <cstring>

namespace mvmhost {

inline float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline bool hasBits(float value, uint32_t bits) {
    uint32_t actual;
    std::memcpy(&actual, &value, sizeof actual);
    return actual == bits;
}

}  // namespace mvmhost
