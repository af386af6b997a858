// The counter changed in one way, for mvmhost compare and bench to tell apart from the counter:
//   COUNTER_PLANTED_SAMPLE      one output sample, the one at kPlantedSample, off by one bit
//   COUNTER_LATE_ANNOUNCEMENT   every state announcement dated a sample late
//   COUNTER_LONG_CALL_SAMPLE    in calls of kLongCall samples or more, the first output sample
//                               off by one bit: seen only where a host hands over long blocks
//   COUNTER_SPINNING            the same outputs, then a spin on every sample: many times
//                               slower than the counter, whatever the machine
// The library defines its exports itself, so that the counter's code it links stays as shipped.
#include <cstring>
#include <new>

#include "host/exports.h"
#include "host/library.h"
#include "modules/count_reset/count_reset_module.h"

namespace {

using namespace mv;

// The counter whose shipped process routine is followed, in every call, by Variant::after.
template <class Variant>
class AfterEveryCall : public CountResetModule {
public:
    using CountResetModule::CountResetModule;
    void open() override {
        CountResetModule::open();
        shipped_ = getProcessBinding().routine;
        setProcessRoutine({process, 0, 0, 0});
    }

protected:
    void flipLowestBit(int32_t at) {
        uint32_t bits;
        std::memcpy(&bits, outClimbBuffer + at, sizeof bits);
        bits ^= 1;
        std::memcpy(outClimbBuffer + at, &bits, sizeof bits);
    }

private:
    static void MV_CDECL process(void* instance, int32_t start, int32_t count) {
        auto& self = *static_cast<Variant*>(static_cast<ModuleBase*>(instance));
        self.shipped_(instance, start, count);
        self.after(start, count);
    }
    ProcessRoutine shipped_ = nullptr;
};

#if defined(COUNTER_PLANTED_SAMPLE)
constexpr int64_t kPlantedSample = 654321;

class Planted : public AfterEveryCall<Planted> {
public:
    using AfterEveryCall::AfterEveryCall;
    void after(int32_t start, int32_t count) {
        if (count <= 0) return;
        // Every sample is processed once, in order: the count so far is the sample clock.
        const int64_t at = kPlantedSample - processed_;
        if (at >= 0 && at < count) flipLowestBit(start + static_cast<int32_t>(at));
        processed_ += count;
    }

private:
    int64_t processed_ = 0;
};

constexpr auto create = createModule<Planted>;
#elif defined(COUNTER_LONG_CALL_SAMPLE)
constexpr int32_t kLongCall = 4096;

class LongCall : public AfterEveryCall<LongCall> {
public:
    using AfterEveryCall::AfterEveryCall;
    void after(int32_t start, int32_t count) {
        if (count >= kLongCall) flipLowestBit(start);
    }
};

constexpr auto create = createModule<LongCall>;
#elif defined(COUNTER_SPINNING)
constexpr int32_t kSpinsPerSample = 16;

class Spinning : public AfterEveryCall<Spinning> {
public:
    using AfterEveryCall::AfterEveryCall;
    void after(int32_t, int32_t count) {
        for (int32_t i = 0; i < count * kSpinsPerSample; ++i) spins_ = spins_ + 1;
    }

private:
    volatile uint32_t spins_ = 0;
};

constexpr auto create = createModule<Spinning>;
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
