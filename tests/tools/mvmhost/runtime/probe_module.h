// A module for the host's tests: plugs as a test describes them, misbehaviour on request, and
// a log of what the host did to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/module_base.h"
#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost::test {

struct ProbePlug {
    const char* name;
    int32_t direction;
    int32_t datatype;
    int32_t flags = 0;
    bool withVariable = true;
};

struct ProbeSetup {
    std::vector<ProbePlug> plugs;
    intptr_t opcode6Answer = 1;  // what opcode 6 answers for a described index
    bool describesForever = false;
    int32_t strayWrite = 0;      // +1: a sample just past the block's end; -1: just before it
    int32_t postRoutineAt = -1;  // a routine call posted at open for this clock
    bool noInstance = false;     // makeModule answers null
};

// Read by the next makeModule of probeEntries().
extern ProbeSetup probeSetup;

// In order: "p<clock>+<count>" for a process call, "e<clock>:<plug>=<state>" for a stream
// state change, "r<clock>" for a posted routine; the clocks are what the host answered.
extern std::vector<std::string> probeLog;
extern std::vector<float> probeEventValues;  // currentValue() of the plug of each state change
extern int probesDestroyed;

EntryPoints probeEntries();

class ProbeModule : public mv::ModuleBase {
public:
    ProbeModule(mv::HostCallback callback, intptr_t hostHandle, ProbeSetup setup);
    ~ProbeModule() override;

    void open() override;
    intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) override;
    bool getPlugProperties(int32_t index, mv::PlugInfo* info) override;
    void onPlugStateChange(mv::Plug* plug) override;

    // Copies the first Signal input into every Signal output that has a variable.
    static void MV_CDECL process(void* instance, int32_t start, int32_t count);
    void routine();

    union Slot {
        float* buffer;
        int16_t list;
        intptr_t word;
    };
    Slot slots[16]{};

private:
    ProbeSetup setup_;
};

}  // namespace mvmhost::test
