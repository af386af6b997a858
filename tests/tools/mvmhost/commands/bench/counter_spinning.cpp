// The counter, computing what it always does and then spinning for a while on every sample:
// a module that is many times slower than the counter, whatever the machine.
// The library defines its exports itself, so that the counter's code it links stays as shipped.
#include "host/exports.h"
#include "host/library.h"
#include "modules/count_reset/count_reset_module.h"

namespace {

using namespace mv;

constexpr int32_t kSpinsPerSample = 16;

class Spinning : public CountResetModule {
public:
    using CountResetModule::CountResetModule;
    void open() override {
        CountResetModule::open();
        shipped = getProcessBinding().routine;
        setProcessRoutine({process, 0, 0, 0});
    }
    static void MV_CDECL process(void* instance, int32_t start, int32_t count) {
        auto& self = *static_cast<Spinning*>(static_cast<ModuleBase*>(instance));
        self.shipped(instance, start, count);
        for (int32_t i = 0; i < count * kSpinsPerSample; ++i) self.spins = self.spins + 1;
    }
    ProcessRoutine shipped = nullptr;
    volatile uint32_t spins = 0;
};

const LibraryModule kSpinning = {libraryModule.identifier, libraryModule.name,
                                 libraryModule.aboutText, createModule<Spinning>};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, ModuleInfo* info) {
    return describeModule(kSpinning, index, info);
}

extern "C" MV_EXPORT ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                       HostCallback callback, intptr_t hostHandle) {
    return makeModuleOf(kSpinning, index, kind, callback, hostHandle);
}
