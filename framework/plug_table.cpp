// The plug table built at open, and the plug-level host requests.
#include <cstring>

#include "framework/module_base.h"

namespace mv {

ModuleBase::~ModuleBase() { releasePlugs(); }

void ModuleBase::releasePlugs() {
    delete[] plugs;  // elements last to first, then the block
    plugs = nullptr;
    plugTableSize = 0;
}

bool ModuleBase::queryPlugInfo(int32_t index, PlugInfo* info) {
    std::memset(info, 0, sizeof *info);
    return getPlugProperties(index, info);
}

void ModuleBase::open() {
    releasePlugs();  // a second open rebuilds rather than leaks
    const int32_t count = static_cast<int32_t>(callHost(hostGetPlugCount));
    if (count > 0) {
        // Failing to allocate leaves no table, as for a count of 0.
        plugs = new Plug[static_cast<size_t>(count)];
        plugTableSize = plugs ? count : 0;
    }
    const int32_t slots = plugTableSize;

    PlugInfo info;
    int32_t d = 0, p = 0;
    while (queryPlugInfo(d, &info)) {
        if (p >= slots) break;  // the description just read finds no slot
        if (countsAsPlug(info.flags)) {
            plugs[p].setup(this, p, info.datatype, info.variable);
            ++p;
        }
        ++d;
    }
    if (d > 0) {
        queryPlugInfo(d - 1, &info);  // a false answer leaves a zeroed record: nothing repeats
        if (countsAsPlug(info.flags) && (info.flags & RepeatLast)) {
            for (; p < slots; ++p) plugs[p].setup(this, p, info.datatype, nullptr);
        }
    }
    for (; p < slots; ++p) plugs[p].index = p;  // never set up: no module, no value
}

Plug* ModuleBase::getPlug(int32_t index) {
    return index >= 0 && index < plugCount() ? &plugs[index] : nullptr;
}

int32_t ModuleBase::getSampleClock() { return static_cast<int32_t>(callHost(hostGetSampleClock)); }

void Plug::setup(ModuleBase* owner, int32_t plugIndex, int32_t type, void* variable) {
    module = owner;
    index = plugIndex;
    datatype = type;
    value = variable;
    streamState = Static;
    storage.word = 0;
    if (variable) return;
    switch (type) {
    case Signal:  // the host's buffer, asked for once
        storage.buffer =
            reinterpret_cast<float*>(owner->callHost(hostGetPlugValuePointer, plugIndex));
        value = &storage;
        break;
    case Enumerated:
    case Datatype4:
    case Datatype6:
    case Datatype8:
        value = &storage;  // zeroed above, whatever its width
        break;
    default:
        break;
    }
}

void Plug::setOutputState(int32_t clock, StreamState state) {
    request(hostSetOutputState, state, reinterpret_cast<void*>(static_cast<intptr_t>(clock)));
}

float Plug::currentValue() {
    // A plug without a value location or buffer has no sample to read; asking the host first
    // would cost two requests for nothing.
    const float* buffer = value ? *static_cast<float* const*>(value) : nullptr;
    if (!buffer || !module) return 0.0f;
    const int32_t start = static_cast<int32_t>(module->callHost(hostGetBlockStartClock, index));
    const int32_t now = module->getSampleClock();
    return buffer[static_cast<intptr_t>(now) - start];
}

bool Plug::queryFlag() { return request(hostPlugQuery, 0, nullptr) != 0; }

intptr_t Plug::notifyHost(intptr_t first, int32_t second) {
    return request(hostPlugNotice, second, reinterpret_cast<void*>(first));
}

intptr_t Plug::request(int32_t what, int32_t argument, void* ptr) {
    return module ? module->callHost(what, index, argument, ptr) : 0;  // a slot never set up
}

}  // namespace mv
