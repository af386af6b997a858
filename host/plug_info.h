// The plug description record, filled by a module for the host (opcode 6) and for the
// framework's own plug table at open.
#pragma once

#include <cstdint>

#include "host/layout.h"

namespace mv {

// Value codes. The host gives the codes named by their number alone a meaning of its own; the
// framework knows only the width of their values, and gives these five storage of their own.
enum PlugDatatype : int32_t {
    Enumerated = 0,  ///< a signed 16-bit list value, choices in listText
    Datatype4 = 4,   ///< an 8-bit value
    Signal = 5,      ///< 32-bit float samples; the value location holds the buffer's address
    Datatype6 = 6,   ///< a 32-bit value
    Datatype8 = 8    ///< a 32-bit value
};

enum PlugDirection : int32_t { PlugInput = 0, PlugOutput = 1 };

// Description flags; the framework reads these three bits and no other.
enum PlugFlags : int32_t {
    RepeatLast = 0x8,     ///< last description only: fill every remaining plug slot with it
    NotAPlug = 0x400,     ///< takes no plug index
    CountAsPlug = 0x8000  ///< cancels NotAPlug
};

struct PlugInfo {
    void* variable;            ///< the module's value location, or null
    int32_t direction;         ///< PlugDirection
    int32_t datatype;          ///< PlugDatatype code
    const char* name;          ///< zero-terminated 8-bit text, static
    const char* defaultValue;  ///< initial value as text, or null
    const char* listText;      ///< enumeration-list text of an Enumerated plug, or null
    int32_t flags;             ///< PlugFlags
    int32_t reserved;          ///< 0; no module writes it
};

MV_PIN_FIELD(PlugInfo, variable, 0, 0);
MV_PIN_FIELD(PlugInfo, direction, 4, 8);
MV_PIN_FIELD(PlugInfo, datatype, 8, 12);
MV_PIN_FIELD(PlugInfo, name, 12, 16);
MV_PIN_FIELD(PlugInfo, defaultValue, 16, 24);
MV_PIN_FIELD(PlugInfo, listText, 20, 32);
MV_PIN_FIELD(PlugInfo, flags, 24, 40);
MV_PIN_FIELD(PlugInfo, reserved, 28, 44);
MV_PIN_SIZE(PlugInfo, 32, 48);

inline bool countsAsPlug(int32_t flags) { return !(flags & NotAPlug) || (flags & CountAsPlug); }

}  // namespace mv
