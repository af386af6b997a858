#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {

bool PlainModule::getPlugProperties(int32_t index, PlugInfo* info) {
    switch (index) {
    case In:
        *info = {&inBuffer, PlugInput, Signal, "in", "0", nullptr, 0, 0};
        return true;
    case Mode:
        *info = {&mode, PlugInput, Enumerated, "mode", "1", "Off,On", 0, 0};
        return true;
    case Out:
        *info = {&outBuffer, PlugOutput, Signal, "out", nullptr, nullptr, 0, 0};
        return true;
    default:
        return false;
    }
}

void PlainModule::open() {
    ModuleBase::open();
    previous = 0.0f;
    setProcessRoutine({routine, 0, 0, 0});
}

StreamState PlainModule::outputState() {
    Plug* in = getPlug(In);
    return in && in->getStreamState() == Streaming ? Streaming : SingleChange;
}

void PlainModule::onPlugStateChange(Plug*) {
    if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), outputState());
}

void MV_CDECL PlainModule::difference(void* instance, int32_t start, int32_t count) {
    PlainModule& m = of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        const float x = m.inBuffer[i];
        m.outBuffer[i] = m.mode ? x - m.previous : x;
        m.previous = x;
    }
}

void selectUntold(ModuleBase& module, ProcessRoutine routine) {
    const intptr_t answer = module.dispatch(OpGetProcessBindingInfo, 0, 0, nullptr, 0.0f);
    reinterpret_cast<ProcessBindingInfo*>(answer)->binding->routine = routine;
    module.getRecord()->processEntry = routine;
}

}  // namespace mv::faulty
