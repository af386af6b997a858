// The base every module derives from: the host-visible record and its dispatcher, host
// requests, the plug table built at open, event delivery and the selected process routine.
//
// A module overrides only what it needs; every default does nothing, answers false, or
// stores and returns a value. Host opcodes reach these operations only through the record.
#pragma once

#include <cstdint>

#include "framework/heap.h"
#include "framework/plug.h"
#include "host/module_event.h"
#include "host/module_record.h"
#include "host/plug_info.h"

namespace mv {

class ModuleBase;

// A routine of a module object, as a RoutineCall event carries it: a plain function taking
// the module, so its address fits the event's param3 on every target. `routineOf` makes one
// from a member function.
using ModuleRoutine = void (*)(ModuleBase& module);

template <class M, void (M::*member)()>
void routineOf(ModuleBase& module) {
    (static_cast<M&>(module).*member)();
}

class ModuleBase : public HeapAllocated {
public:
    ModuleBase(HostCallback callback, intptr_t hostHandle);
    ModuleBase(const ModuleBase&) = delete;
    ModuleBase& operator=(const ModuleBase&) = delete;

    // Virtual operations, in the order of the virtual table.
    virtual ~ModuleBase();
    virtual void onPlugStateChange(Plug* plug);
    virtual void handleEvent(ModuleEvent* event);
    virtual intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    virtual void open();  // builds the plug table; a module's open calls it first
    virtual void close();
    virtual void reservedHook(int32_t a, int32_t b);
    virtual void setSampleRate(float rate);
    virtual void setBlockSize(int32_t size);
    virtual float getSampleRate();
    virtual int32_t getBlockSize();
    // Fills `info` for a description index the module knows and answers true; any other
    // index answers false and leaves `info` untouched.
    virtual bool getPlugProperties(int32_t index, PlugInfo* info);
    virtual bool reservedQueryA(int32_t a);
    virtual bool reservedQueryB(int32_t a);
    virtual void onNotify();
    virtual void onNotifyCount(int32_t count);
    virtual void onDataEvent(int32_t clock, int32_t value, int16_t second);
    virtual void onCommand(int32_t value, int32_t index, void* ptr);

    ModuleRecord* getRecord() { return &record; }

    // Every host request goes through here; without a callback it answers 0 and calls nothing.
    intptr_t callHost(int32_t request, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // Rewrites processEntry and tells the host (request 22), only when the binding changed.
    void setProcessRoutine(ProcessBinding binding);
    ProcessBinding getProcessBinding() const { return binding; }

    // Clears `info`, then asks getPlugProperties.
    bool queryPlugInfo(int32_t index, PlugInfo* info);
    // The plug at a plug index, or null outside 0 .. plugCount() - 1.
    Plug* getPlug(int32_t index);
    int32_t plugCount() const { return plugs ? plugTableSize : 0; }
    int32_t getSampleClock();

    intptr_t postEvent(int32_t clock, int32_t type, int32_t param1, int32_t param2,
                       intptr_t param3);
    intptr_t scheduleCall(int32_t clock, ModuleRoutine routine);

private:
    void releasePlugs();

    HostCallback callback;
    ModuleRecord record;
    float sampleRate;   // lies directly after the record
    int32_t blockSize;  // directly after sampleRate
    Plug* plugs = nullptr;
    int32_t plugTableSize = 0;
    ProcessBinding binding;
};

// A process routine that writes nothing: every instance's routine until it selects its own.
void MV_CDECL emptyProcess(void* instance, int32_t start, int32_t count);

}  // namespace mv
