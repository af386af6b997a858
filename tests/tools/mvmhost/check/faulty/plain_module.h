// A small well-behaved module for the validator's tests: "in" minus its previous sample on
// "out" while the list plug "mode" is On, "in" itself while it is Off. Each faulty module
// beside it changes one thing about it.
#pragma once

#include <cstdint>

#include "framework/module_base.h"
#include "host/library.h"

namespace mv::faulty {

class PlainModule : public ModuleBase {
public:
    enum PlugIndex : int32_t { In = 0, Mode = 1, Out = 2, PlugCount };  // append only

    PlainModule(HostCallback callback, intptr_t hostHandle, ProcessRoutine routine = difference)
        : ModuleBase(callback, hostHandle), routine(routine) {}

    bool getPlugProperties(int32_t index, PlugInfo* info) override;
    void open() override;
    void onPlugStateChange(Plug* plug) override;
    // What it announces for out: a busier state than needed is never wrong.
    StreamState outputState();

    static PlainModule& of(void* instance) {
        return *static_cast<PlainModule*>(static_cast<ModuleBase*>(instance));
    }
    static void MV_CDECL difference(void* instance, int32_t start, int32_t count);

    ProcessRoutine routine;
    float* inBuffer = nullptr;
    float* outBuffer = nullptr;
    int16_t mode = 1;
    float previous = 0.0f;
};

// The plain module's loop with `answer(x)` in place of its difference; `previous` then
// follows the input as there.
template <class Answer>
void eachSample(PlainModule& m, int32_t start, int32_t count, Answer answer) {
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        const float x = m.inBuffer[i];
        m.outBuffer[i] = answer(x);
        m.previous = x;
    }
}

// Points the binding and the record's processEntry at `routine` without telling the host: for
// modules that get the order of that and request 22 wrong.
void selectUntold(ModuleBase& module, ProcessRoutine routine);

constexpr const char* kAbout = "A module with one deliberate fault, for the validator's tests.";

}  // namespace mv::faulty
