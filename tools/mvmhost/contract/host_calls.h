// Small pieces the checks share: a host that answers nothing, texts read from a module with a
// bound, and numbers shown in reasons.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "host/module_record.h"

namespace mvmhost {

// A host that answers every request 0 and counts them; for the checks that must see that a
// call asks the host nothing.
struct QuietHost {
    static inline uint64_t calls = 0;
    static intptr_t MV_CDECL callback(void*, int32_t, int32_t, int32_t, void*, float) noexcept {
        ++calls;
        return 0;
    }
};

// A record's entries, called as a host calls them.
inline intptr_t dispatch(mv::ModuleRecord* record, int32_t opcode, int32_t index = 0,
                         int32_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return record->dispatcherEntry(record, opcode, index, value, ptr, opt);
}

// Closes an instance made for one check when the check ends, however it ends.
struct RecordCloser {
    mv::ModuleRecord* record;
    ~RecordCloser() { dispatch(record, mv::OpClose); }
};

// Copies a module's zero-terminated text; false when no terminator comes within `limit` bytes.
inline bool readText(const char* text, size_t limit, std::string& out) {
    const void* end = std::memchr(text, 0, limit);
    if (!end) return false;
    out.assign(text, static_cast<const char*>(end));
    return true;
}

// A value for a reason: decimal for numbers, and the bits as well where they matter.
std::string showSample(float value);
std::string showWord(intptr_t value);

// Fills `bytes` with a pattern no module writes by accident.
inline void fillSentinel(void* bytes, size_t size) { std::memset(bytes, 0xA5, size); }
inline bool isSentinel(const void* bytes, size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0xA5) return false;
    return true;
}

}  // namespace mvmhost
