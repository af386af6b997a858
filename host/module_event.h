// The event record passed to a module's event entry and posted to the host (request 19).
#pragma once

#include <cstdint>

#include "host/layout.h"

namespace mv {

enum ModuleEventType : int32_t {
    PlugStateChange = 0,  ///< param1 the new StreamState, param3 the plug index
    DataEvent = 2,        ///< param1 a value, low 16 bits of param2 a second value
    RoutineCall = 21      ///< param3 a ModuleRoutine (see framework/module_base.h)
};

struct ModuleEvent {
    int32_t clock;     ///< sample clock the event applies at
    int32_t type;      ///< ModuleEventType; other codes are ignored
    int32_t param1;    ///< see ModuleEventType
    int32_t param2;    ///< see ModuleEventType
    intptr_t param3;   ///< a plug index, or a routine's address
    int32_t reserved;  ///< 0 in every event a module builds; never read
};

MV_PIN_FIELD(ModuleEvent, clock, 0, 0);
MV_PIN_FIELD(ModuleEvent, type, 4, 4);
MV_PIN_FIELD(ModuleEvent, param1, 8, 8);
MV_PIN_FIELD(ModuleEvent, param2, 12, 12);
MV_PIN_FIELD(ModuleEvent, param3, 16, 16);
MV_PIN_FIELD(ModuleEvent, reserved, 20, 24);
MV_PIN_SIZE(ModuleEvent, 24, 32);

}  // namespace mv
