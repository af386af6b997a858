// One element of a module's plug table: where a plug's value lives, its stream state, and the
// plug-level host requests.
#pragma once

#include <cstdint>

#include "framework/heap.h"
#include "host/stream_state.h"

namespace mv {

class ModuleBase;

class Plug : public HeapAllocated {
public:
    Plug() = default;
    Plug(const Plug&) = delete;
    Plug& operator=(const Plug&) = delete;
    virtual ~Plug() = default;

    // Binds a table slot. Without a variable, the PlugDatatype codes get their own storage (a
    // Signal plug asks the host for its buffer, once); any other datatype gets none.
    void setup(ModuleBase* module, int32_t index, int32_t datatype, void* variable);

    StreamState getStreamState() const { return static_cast<StreamState>(streamState); }
    // Stores the state and tells the module; a SingleChange lasts only while the module is told.
    void setStreamState(StreamState state);
    // Announces that this output takes `state` from sample clock `clock` on.
    void setOutputState(int32_t clock, StreamState state);
    // The sample of this Signal plug at the host's current sample clock; 0 when the plug has
    // no value location or no buffer.
    float currentValue();
    bool queryFlag();
    intptr_t notifyHost(intptr_t first, int32_t second);

    void* getValue() const { return value; }
    ModuleBase* getModule() const { return module; }
    int32_t getIndex() const { return index; }
    int32_t getDatatype() const { return datatype; }

private:
    friend class ModuleBase;
    intptr_t request(int32_t what, int32_t argument, void* ptr);

    void* value = nullptr;         // the module's variable, &storage, or null
    ModuleBase* module = nullptr;  // not owned
    int32_t index = -1;
    int32_t streamState = Static;
    int32_t datatype = -1;
    union Storage {         // the plug's own value location, by datatype
        intptr_t word;      // cleared as a whole
        int16_t listValue;  // Enumerated
        uint8_t byteValue;  // Datatype4
        float* buffer;      // Signal: the host's buffer address
        int32_t wordValue;  // Datatype6 and Datatype8
    } storage{};
};

}  // namespace mv
