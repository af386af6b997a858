// Module libraries that each fail a host in one way, chosen when built: a library that holds
// no module, one whose makeModule answers null, one that writes past its output buffer, one
// that crashes and one that hangs in its third block, and one without the two exports.
#include "framework/module_base.h"
#include "host/exports.h"

namespace {

class Overrunner : public mv::ModuleBase {
public:
    using ModuleBase::ModuleBase;
    void open() override {
        ModuleBase::open();
        setProcessRoutine({process, 0, 0, 0});
    }
    bool getPlugProperties(int32_t index, mv::PlugInfo* info) override {
        if (index != 0) return false;
        info->name = "out";
        info->direction = mv::PlugOutput;
        info->datatype = mv::Signal;
        info->variable = &out;
        return true;
    }
    static void MV_CDECL process(void* instance, int32_t start, int32_t count) {
        auto& m = *static_cast<Overrunner*>(static_cast<ModuleBase*>(instance));
#if defined(MVMHOST_FAULT_CRASH) || defined(MVMHOST_FAULT_HANG)
        if (++m.calls == kFaultyCall) {
#if defined(MVMHOST_FAULT_CRASH)
            // Not null, which a sanitizer would catch first, but no less unmapped.
            volatile uintptr_t nowhere = 16;
            *reinterpret_cast<float*>(nowhere) = 0.5f;
#else
            for (volatile bool waiting = true; waiting;) {}
#endif
        }
        for (int32_t i = 0; i < count; ++i) m.out[start + i] = 0.5f;
#else
        for (int32_t i = 0; i <= count; ++i) m.out[start + i] = 0.5f;  // one sample too many
#endif
    }
    static constexpr int kFaultyCall = 3;  // after two whole blocks, so files have begun
    int calls = 0;
    float* out = nullptr;
};

}  // namespace

#if defined(MVMHOST_FAULT_NO_EXPORTS)
extern "C" MV_EXPORT int32_t MV_CDECL notAModule() { return 0; }
#else
extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, mv::ModuleInfo* info) {
    info->frameworkVersion = mv::kFrameworkVersion;
#if defined(MVMHOST_FAULT_NO_MODULE)
    (void)index;
    return 0;
#else
    if (index != 0) return 0;
    info->identifier = "faulty";
    info->name = "Faulty";
    info->aboutText = "Fails a host on purpose.";
    return 1;
#endif
}

extern "C" MV_EXPORT mv::ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                           mv::HostCallback callback,
                                                           intptr_t hostHandle) {
#if defined(MVMHOST_FAULT_OVERRUN) || defined(MVMHOST_FAULT_CRASH) || defined(MVMHOST_FAULT_HANG)
    if (index != 0 || kind != mv::KindModule) return nullptr;
    return (new Overrunner(callback, hostHandle))->getRecord();
#else
    (void)index, (void)kind, (void)callback, (void)hostHandle;
    return nullptr;
#endif
}
#endif
