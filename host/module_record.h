// The module record: the host's only handle on a module instance, and the requests the
// instance sends back through the host's callback. The instance's sampleRate and blockSize
// follow the record without a gap (framework/module_base.h).
#pragma once

#include <cstdint>

#include "host/abi.h"
#include "host/layout.h"

namespace mv {

struct ModuleRecord;
struct ModuleEvent;

// The host's callback. `record` is the asking ModuleRecord (or, for a panel, its PanelRecord;
// the host tells them apart by the magic word). Every request of this library passes opt 0.
using HostCallback = intptr_t(MV_CDECL*)(void* record, int32_t request, int32_t index,
                                         int32_t value, void* ptr, float opt);

using DispatcherEntry = intptr_t(MV_CDECL*)(ModuleRecord* record, int32_t opcode, int32_t index,
                                            int32_t value, void* ptr, float opt);

// A process routine: a plain function taking the record's `instance` word, the first sample
// to process within the current buffers, and the number of samples.
using ProcessRoutine = void(MV_CDECL*)(void* instance, int32_t start, int32_t count);

using EventEntry = void(MV_CDECL*)(void* instance, ModuleEvent* event);

constexpr uint32_t kModuleMagic = fourCC("MVPL");
constexpr int32_t kModuleRecordVersion = 1;

struct ModuleRecord {
    uint32_t magic;                   ///< kModuleMagic
    int32_t version;                  ///< kModuleRecordVersion
    intptr_t hostHandle;              ///< the host's word from makeModule; never read
    void* instance;                   ///< the module object, passed to process and event entries
    int32_t reserved0;                ///< 0
    DispatcherEntry dispatcherEntry;  ///< opcodes, same function in every instance
    ProcessRoutine processEntry;      ///< the selected process routine; the host calls it directly
    EventEntry eventEntry;            ///< events, same function in every instance
    int32_t reserved[4];              ///< 0
};

MV_PIN_FIELD(ModuleRecord, magic, 0, 0);
MV_PIN_FIELD(ModuleRecord, version, 4, 4);
MV_PIN_FIELD(ModuleRecord, hostHandle, 8, 8);
MV_PIN_FIELD(ModuleRecord, instance, 12, 16);
MV_PIN_FIELD(ModuleRecord, reserved0, 16, 24);
MV_PIN_FIELD(ModuleRecord, dispatcherEntry, 20, 32);
MV_PIN_FIELD(ModuleRecord, processEntry, 24, 40);
MV_PIN_FIELD(ModuleRecord, eventEntry, 28, 48);
MV_PIN_FIELD(ModuleRecord, reserved, 32, 56);
MV_PIN_SIZE(ModuleRecord, 48, 72);
static_assert(kModuleMagic == 0x4D56504Cu, "MVPL");

// The selected process routine. Qualifiers are 0 for a routine that is a plain function.
struct ProcessBinding {
    ProcessRoutine routine;  ///< the routine, or null
    intptr_t qualifier1;     ///< 0
    intptr_t qualifier2;     ///< 0
    intptr_t qualifier3;     ///< 0
};

MV_PIN_FIELD(ProcessBinding, routine, 0, 0);
MV_PIN_FIELD(ProcessBinding, qualifier1, 4, 8);
MV_PIN_FIELD(ProcessBinding, qualifier2, 8, 16);
MV_PIN_FIELD(ProcessBinding, qualifier3, 12, 24);
MV_PIN_SIZE(ProcessBinding, 16, 32);

// Filled by opcode 13. One for the whole library: it describes the latest asker.
struct ProcessBindingInfo {
    int32_t one;              ///< 1
    int32_t bindingSize;      ///< sizeof(ProcessBinding)
    ProcessBinding* binding;  ///< the asking instance's binding
    int32_t zero;             ///< 0
};

MV_PIN_FIELD(ProcessBindingInfo, one, 0, 0);
MV_PIN_FIELD(ProcessBindingInfo, bindingSize, 4, 4);
MV_PIN_FIELD(ProcessBindingInfo, binding, 8, 8);
MV_PIN_FIELD(ProcessBindingInfo, zero, 12, 16);
MV_PIN_SIZE(ProcessBindingInfo, 16, 24);

// Dispatcher opcodes; every other number (negative ones included) answers 0 and does nothing.
enum Opcode : int32_t {
    OpOpen = 0,                   ///< build the plug table, then the module's own open
    OpClose = 1,                  ///< close, then destroy the instance; answers 1
    OpSetSampleRate = 2,          ///< sample rate in opt
    OpSetBlockSize = 3,           ///< block size in value
    OpGetPlugProperties = 6,      ///< describe plug `index` into the host's PlugInfo at ptr
    OpNotify = 8,                 ///< onNotify, then onNotifyCount(index) when index > 0
    OpCommand = 12,               ///< onCommand(value, index, ptr)
    OpGetProcessBindingInfo = 13  ///< answers the library's ProcessBindingInfo
};

// Requests a module sends through the host callback.
enum HostRequest : int32_t {
    hostSetOutputState = 0,         ///< index plug, value StreamState, ptr carries the clock
    hostPlugQuery = 1,              ///< index plug; non-zero is true
    hostGetSampleClock = 3,         ///< answers the current sample clock
    hostPlugNotice = 4,             ///< index plug, value and ptr the caller's
    hostGetPlugValuePointer = 7,    ///< index plug; answers its sample buffer
    hostGetBlockStartClock = 8,     ///< index plug; clock of its buffer's first sample
    hostGetPlugCount = 14,          ///< plugs the host made; 0 or less means none
    hostPostEvent = 19,             ///< ptr a ModuleEvent the host copies before answering
    hostProcessRoutineChanged = 22  ///< processEntry was rewritten
};

}  // namespace mv
