// Compile-time pins for host-visible records.
//
// Every record is made of little-endian 32-bit words on 32-bit targets. On 64-bit targets the
// same fields keep their order, every field holding an address or a host word widens to the
// pointer size, every other field stays 32-bit, and natural alignment applies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mv {

constexpr bool kPointer32 = sizeof(void*) == 4;

// Offset of a field: `narrow` on 32-bit targets, `wide` on 64-bit ones.
constexpr std::size_t at(std::size_t narrow, std::size_t wide) {
    return kPointer32 ? narrow : wide;
}

// Four characters as one word, the first in the most significant byte.
constexpr uint32_t fourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

}  // namespace mv

#define MV_PIN_SIZE(T, narrow, wide) static_assert(sizeof(T) == ::mv::at(narrow, wide), #T " size")
#define MV_PIN_FIELD(T, field, narrow, wide) \
    static_assert(offsetof(T, field) == ::mv::at(narrow, wide), #T "::" #field " offset")
