// The entries called with the stack off a 16-byte boundary, as a 32-bit Windows host built
// with MSVC calls them: only there does the check apply.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/module_event.h"
#include "host/module_info.h"
#include "host/plug_info.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/runtime/misaligned_call.h"

namespace mvmhost {

#if MV_MISALIGNED_CALLS
namespace {

constexpr int32_t kMisalignments[] = {4, 8, 12};
constexpr int32_t kAlignmentBlocks = 3;
constexpr int32_t kMaxPlugs = 256;

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
uint32_t word(int32_t n) { return static_cast<uint32_t>(n); }
uint32_t word(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// Calls entries with the stack `offset` bytes past a 16-byte boundary.
struct Caller {
    int32_t offset;
    template <class Function, class... Args>
    uint32_t operator()(Function function, Args... args) const {
        const uint32_t words[] = {word(args)..., 0};
        return mvmhost_callMisaligned(reinterpret_cast<const void*>(function), words,
                                      static_cast<int32_t>(sizeof...(Args)), offset);
    }
};

// Answers what open and a state handler ask; called back on whatever stack the module has.
struct AlignmentHost {
    static inline int32_t plugCount = 0;
    static inline int32_t clock = 0;
    static inline int32_t blockSize = 1024;
    static inline std::vector<float*> buffers;  // by plug index
    static MV_REALIGN intptr_t MV_CDECL callback(void*, int32_t request, int32_t index, int32_t,
                                                 void*, float) noexcept {
        const bool plug = index >= 0 && index < plugCount;
        switch (request) {
        case mv::hostGetPlugCount:
            return plugCount;
        case mv::hostGetSampleClock:
            return clock;
        case mv::hostGetBlockStartClock:
            return plug ? clock - clock % blockSize : 0;
        case mv::hostGetPlugValuePointer:
            return plug ? reinterpret_cast<intptr_t>(buffers[static_cast<size_t>(index)]) : 0;
        default:
            return 0;
        }
    }
};

std::string stackText(int32_t offset) {
    return offset == 0 ? "an aligned stack"
                       : "the stack " + std::to_string(offset) + " bytes past a 16-byte boundary";
}

// One session, every call through the thunk: identity, makeModule, descriptions, opcodes,
// open, blocks with state changes, close. Answers every output sample.
std::vector<float> session(const CheckContext& c, int32_t offset) {
    const Caller call{offset};
    const std::string with = " with " + stackText(offset);
    mv::ModuleInfo info{};
    if (call(c.entries.getModuleProperties, mv::kModuleIndex, &info) != 1)
        fail("getModuleProperties(0) did not answer 1" + with);
    auto* record = reinterpret_cast<mv::ModuleRecord*>(static_cast<uintptr_t>(
        call(c.entries.makeModule, mv::kModuleIndex, int32_t{mv::KindModule},
             reinterpret_cast<const void*>(&AlignmentHost::callback), int32_t{1})));
    if (!record) fail("makeModule(0, 1) answered null" + with);
    auto dispatchAt = [&](int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
        return call(record->dispatcherEntry, record, opcode, index, value, ptr, opt);
    };
    std::vector<mv::PlugInfo> plugs;  // by plug index
    for (int32_t d = 0; d < kMaxPlugs; ++d) {
        mv::PlugInfo described{};
        if (dispatchAt(mv::OpGetPlugProperties, d, 0, &described, 0.0f) != 1) break;
        if (mv::countsAsPlug(described.flags)) plugs.push_back(described);
    }
    const size_t block = static_cast<size_t>(c.blockSize);
    std::vector<std::vector<float>> storage(plugs.size(), std::vector<float>(block));
    AlignmentHost::plugCount = static_cast<int32_t>(plugs.size());
    AlignmentHost::blockSize = c.blockSize;
    AlignmentHost::clock = 0;
    AlignmentHost::buffers.clear();
    for (std::vector<float>& s : storage) AlignmentHost::buffers.push_back(s.data());
    dispatchAt(mv::OpSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatchAt(mv::OpSetBlockSize, 0, c.blockSize, nullptr, 0.0f);
    dispatchAt(mv::OpOpen, 0, 0, nullptr, 0.0f);
    for (const mv::PlugInfo& p : plugs)
        if (p.variable && p.datatype == mv::Enumerated) {
            const int16_t value =
                p.defaultValue ? static_cast<int16_t>(std::atoi(p.defaultValue)) : 0;
            std::memcpy(p.variable, &value, sizeof value);
        }
    Random random(c.seed);
    std::vector<float> outputs;
    for (int32_t b = 0; b < kAlignmentBlocks; ++b) {
        const int32_t blockStart = b * c.blockSize;
        for (size_t p = 0; p < plugs.size(); ++p) {
            if (plugs[p].datatype != mv::Signal) continue;
            float* samples = storage[p].data();
            if (plugs[p].direction == mv::PlugInput)
                fillSignal(random, samples, c.blockSize);
            else
                std::fill_n(samples, block, unwrittenSample());
            if (plugs[p].variable) std::memcpy(plugs[p].variable, &samples, sizeof samples);
        }
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            AlignmentHost::clock = blockStart + start;
            if (random.chance(20))
                for (size_t p = 0; p < plugs.size(); ++p)
                    if (plugs[p].direction == mv::PlugInput && plugs[p].datatype == mv::Signal) {
                        mv::ModuleEvent event{AlignmentHost::clock,
                                              mv::PlugStateChange,
                                              static_cast<int32_t>(random.below(3)),
                                              0,
                                              static_cast<intptr_t>(p),
                                              0};
                        call(record->eventEntry, record->instance, &event);
                    }
            call(record->processEntry, record->instance, start, n);
            start += n;
        }
        dispatchAt(mv::OpNotify, 1, 0, nullptr, 0.0f);
        dispatchAt(mv::OpCommand, 0, 0, nullptr, 0.0f);
        dispatchAt(mv::OpGetProcessBindingInfo, 0, 0, nullptr, 0.0f);
        for (size_t p = 0; p < plugs.size(); ++p)
            if (plugs[p].direction == mv::PlugOutput && plugs[p].datatype == mv::Signal)
                outputs.insert(outputs.end(), storage[p].begin(), storage[p].end());
    }
    if (dispatchAt(mv::OpClose, 0, 0, nullptr, 0.0f) != 1) fail("opcode 1 did not answer 1" + with);
    return outputs;
}

}  // namespace

Outcome stackAlignment(CheckContext& c) {
    const std::vector<float> aligned = session(c, 0);
    for (int32_t offset : kMisalignments) {
        const std::vector<float> off = session(c, offset);
        for (size_t i = 0; i < aligned.size() && i < off.size(); ++i)
            if (!sameSample(aligned[i], off[i]))
                return fail("with " + stackText(offset) + ", output sample " + std::to_string(i) +
                            " of the session is " + showSample(off[i]) + " against " +
                            showSample(aligned[i]) + " with an aligned stack");
    }
    return pass(
        "every export and entry called with the stack 4, 8 and 12 bytes past a 16-byte boundary "
        "works as with an aligned one");
}
#else
Outcome stackAlignment(CheckContext&) {
    return skip("not applicable: only 32-bit Windows hosts call with the stack 4-byte aligned");
}
#endif

}  // namespace mvmhost
