// The record a host sees, the dispatcher behind it, and process routine selection.
#include <cstring>

#include "framework/module_base.h"

namespace mv {
namespace {

ModuleBase* moduleOf(void* instance) { return static_cast<ModuleBase*>(instance); }

intptr_t MV_CDECL dispatcherEntry(ModuleRecord* record, int32_t opcode, int32_t index,
                                  int32_t value, void* ptr, float opt) {
    return moduleOf(record->instance)->dispatch(opcode, index, value, ptr, opt);
}

void MV_CDECL eventEntry(void* instance, ModuleEvent* event) {
    moduleOf(instance)->handleEvent(event);
}

// Shared by the whole library; each opcode 13 rewrites it for the asking instance.
ProcessBindingInfo processBindingInfo;

bool sameBinding(const ProcessBinding& a, const ProcessBinding& b) {
    if (a.routine != b.routine) return false;
    if (!a.routine) return true;  // two null routines are equal whatever their qualifiers
    return a.qualifier1 == b.qualifier1 && a.qualifier2 == b.qualifier2 &&
           a.qualifier3 == b.qualifier3;
}

}  // namespace

void MV_CDECL emptyProcess(void*, int32_t, int32_t) {}

ModuleBase::ModuleBase(HostCallback callback, intptr_t hostHandle)
    : callback(callback), binding{emptyProcess, 0, 0, 0} {
    std::memset(&record, 0, sizeof record);
    record.magic = kModuleMagic;
    record.processEntry = binding.routine;
    record.eventEntry = eventEntry;
    record.dispatcherEntry = dispatcherEntry;
    record.hostHandle = hostHandle;
    record.instance = this;
    record.version = kModuleRecordVersion;
    sampleRate = 44100.0f;
    blockSize = 1024;
}

intptr_t ModuleBase::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    switch (static_cast<uint32_t>(opcode)) {  // unsigned, so negative opcodes fall to default
    case OpOpen:
        open();
        return 0;
    case OpClose:  // the instance and its record are gone when this returns
        close();
        delete this;
        return 1;
    case OpSetSampleRate:
        setSampleRate(opt);
        return 0;
    case OpSetBlockSize:
        setBlockSize(value);
        return 0;
    case OpGetPlugProperties:  // the host's record is passed on as the host filled it
        return ptr && getPlugProperties(index, static_cast<PlugInfo*>(ptr)) ? 1 : 0;
    case OpNotify:
        onNotify();
        if (index > 0) onNotifyCount(index);
        return 0;
    case OpCommand:
        onCommand(value, index, ptr);
        return 0;
    case OpGetProcessBindingInfo:
        processBindingInfo.one = 1;
        processBindingInfo.bindingSize = sizeof(ProcessBinding);
        processBindingInfo.binding = &binding;
        processBindingInfo.zero = 0;
        return reinterpret_cast<intptr_t>(&processBindingInfo);
    default:
        return 0;
    }
}

intptr_t ModuleBase::callHost(int32_t request, int32_t index, int32_t value, void* ptr, float opt) {
    return callback ? callback(&record, request, index, value, ptr, opt) : 0;
}

void ModuleBase::setProcessRoutine(ProcessBinding next) {
    if (sameBinding(next, binding)) return;
    binding = next;
    record.processEntry = next.routine;  // written before the host is told
    callHost(hostProcessRoutineChanged);
}

void ModuleBase::onPlugStateChange(Plug*) {}
void ModuleBase::close() {}
void ModuleBase::reservedHook(int32_t, int32_t) {}
void ModuleBase::setSampleRate(float rate) { sampleRate = rate; }
void ModuleBase::setBlockSize(int32_t size) { blockSize = size; }
float ModuleBase::getSampleRate() { return sampleRate; }
int32_t ModuleBase::getBlockSize() { return blockSize; }
bool ModuleBase::getPlugProperties(int32_t, PlugInfo*) { return false; }
bool ModuleBase::reservedQueryA(int32_t) { return false; }
bool ModuleBase::reservedQueryB(int32_t) { return false; }
void ModuleBase::onNotify() {}
void ModuleBase::onNotifyCount(int32_t) {}
void ModuleBase::onDataEvent(int32_t, int32_t, int16_t) {}
void ModuleBase::onCommand(int32_t, int32_t, void*) {}

}  // namespace mv
