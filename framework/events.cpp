// Event delivery, stream states and events posted to the host.
#include "framework/module_base.h"

namespace mv {

void ModuleBase::handleEvent(ModuleEvent* event) {
    switch (event->type) {
    case PlugStateChange:
        // The host names only plugs it made; anything else (or no table at all) is ignored.
        if (Plug* plug = getPlug(static_cast<int32_t>(event->param3)))
            plug->setStreamState(static_cast<StreamState>(event->param1));
        break;
    case DataEvent:
        onDataEvent(event->clock, event->param1, static_cast<int16_t>(event->param2 & 0xFFFF));
        break;
    case RoutineCall:
        if (auto routine = reinterpret_cast<ModuleRoutine>(event->param3)) routine(*this);
        break;
    default:
        break;
    }
}

intptr_t ModuleBase::postEvent(int32_t clock, int32_t type, int32_t param1, int32_t param2,
                               intptr_t param3) {
    ModuleEvent event{clock, type, param1, param2, param3, 0};  // the host copies it
    return callHost(hostPostEvent, 0, 0, &event);
}

intptr_t ModuleBase::scheduleCall(int32_t clock, ModuleRoutine routine) {
    return postEvent(clock, RoutineCall, 0, 0, reinterpret_cast<intptr_t>(routine));
}

void Plug::setStreamState(StreamState state) {
    streamState = state;
    if (module) module->onPlugStateChange(this);
    if (state == SingleChange) streamState = Static;
}

}  // namespace mv
