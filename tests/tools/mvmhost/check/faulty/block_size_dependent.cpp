// Takes the announced block size for the host's block and starts its difference afresh
// every that many samples: right only while the host's stretches fill whole blocks of it.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct BlockSizeDependent : PlainModule {
    BlockSizeDependent(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, resetting) {}
    int32_t announced = 1024;
    int32_t done = 0;  // samples since the last fresh start

    void setBlockSize(int32_t size) override {
        PlainModule::setBlockSize(size);
        announced = size > 0 ? size : 1;
    }
    void open() override {
        PlainModule::open();
        done = 0;
    }
    static void MV_CDECL resetting(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<BlockSizeDependent&>(PlainModule::of(instance));
        eachSample(m, start, count, [&](float x) {
            if (m.done++ % m.announced == 0) m.previous = 0.0f;
            return m.mode ? x - m.previous : x;
        });
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"blockSizeDependent", "Block-size dependent", faulty::kAbout,
                                     createModule<faulty::BlockSizeDependent>};
}
