// Copies each stretch into a scratch buffer of 4096 samples before working on it, and reads
// a longer stretch's tail from the wrapped-around buffer: its start over again.
#include <algorithm>
#include <cstring>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kScratch = 4096;

struct Scratch4096 : PlainModule {
    Scratch4096(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, throughScratch) {}
    float scratch[kScratch] = {};

    static void MV_CDECL throughScratch(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<Scratch4096&>(PlainModule::of(instance));
        if (!m.inBuffer || !m.outBuffer || count <= 0) return;
        std::memcpy(m.scratch, m.inBuffer + start,
                    sizeof(float) * static_cast<size_t>(std::min(count, kScratch)));
        for (int32_t i = 0; i < count; ++i) {
            const float x = m.scratch[i % kScratch];
            m.outBuffer[start + i] = m.mode ? x - m.previous : x;
            m.previous = x;
        }
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"scratch4096", "Scratch of 4096", faulty::kAbout,
                                     createModule<faulty::Scratch4096>};
}
