// The counter with one planted fault, for mvmhost compare to find against the counter itself:
//   COUNTER_PLANTED_SAMPLE      one output sample, the one at kPlantedSample, off by one bit
//   COUNTER_LATE_ANNOUNCEMENT   every state announcement dated a sample late
//   COUNTER_LONG_CALL_SAMPLE    in calls of kLongCall samples or more, the first output sample
//                               off by one bit: seen only where a host hands over long blocks
// The library defines its exports itself, so that the counter's code it links stays as shipped.
#include <cstring>
#include <new>

#include "host/exports.h"
#include "host/library.h"
#include "modules/count_reset/count_reset_module.h"

namespace {

using namespace mv;

#if defined(COUNTER_PLANTED_SAMPLE)
constexpr int64_t kPlantedSample = 654321;

class Planted : public CountResetModule {
public:
    using CountResetModule::CountResetModule;
    void open() override {
        CountResetModule::open();
        shipped = getProcessBinding().routine;
        setProcessRoutine({process, 0, 0, 0});
    }
    static void MV_CDECL process(void* instance, int32_t start, int32_t count) {
        auto& self = *static_cast<Planted*>(static_cast<ModuleBase*>(instance));
        self.shipped(instance, start, count);
        if (count <= 0) return;
        // Every sample is processed once, in order: the count so far is the sample clock.
        const int64_t at = kPlantedSample - self.processed;
        if (at >= 0 && at < count) {
            uint32_t bits;
            std::memcpy(&bits, self.outClimbBuffer + start + at, sizeof bits);
            bits ^= 1;
            std::memcpy(self.outClimbBuffer + start + at, &bits, sizeof bits);
        }
        self.processed += count;
    }
    ProcessRoutine shipped = nullptr;
    int64_t processed = 0;
};

constexpr auto create = createModule<Planted>;
#elif defined(COUNTER_LONG_CALL_SAMPLE)
constexpr int32_t kLongCall = 4096;

class LongCall : public CountResetModule {
public:
    using CountResetModule::CountResetModule;
    void open() override {
        CountResetModule::open();
        shipped = getProcessBinding().routine;
        setProcessRoutine({process, 0, 0, 0});
    }
    static void MV_CDECL process(void* instance, int32_t start, int32_t count) {
        auto& self = *static_cast<LongCall*>(static_cast<ModuleBase*>(instance));
        self.shipped(instance, start, count);
        if (count < kLongCall) return;
        uint32_t bits;
        std::memcpy(&bits, self.outClimbBuffer + start, sizeof bits);
        bits ^= 1;
        std::memcpy(self.outClimbBuffer + start, &bits, sizeof bits);
    }
    ProcessRoutine shipped = nullptr;
};

constexpr auto create = createModule<LongCall>;
#elif defined(COUNTER_LATE_ANNOUNCEMENT)
HostCallback host = nullptr;  // one host at a time: mvmhost answers every instance alike

intptr_t MV_CDECL late(void* record, int32_t request, int32_t index, int32_t value, void* ptr,
                       float opt) {
    if (request == hostSetOutputState)
        ptr = reinterpret_cast<void*>(reinterpret_cast<intptr_t>(ptr) + 1);
    return host(record, request, index, value, ptr, opt);
}

ModuleBase* create(HostCallback callback, intptr_t hostHandle) {
    host = callback;
    return new (std::nothrow) CountResetModule(callback ? late : nullptr, hostHandle);
}
#else
#error "choose a variant"
#endif

// The counter's identity, with the variant's instances.
const LibraryModule kVariant = {libraryModule.identifier, libraryModule.name,
                                libraryModule.aboutText, create};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, ModuleInfo* info) {
    return describeModule(kVariant, index, info);
}

extern "C" MV_EXPORT ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                       HostCallback callback, intptr_t hostHandle) {
    return makeModuleOf(kVariant, index, kind, callback, hostHandle);
}
