// Takes its input's buffer from the host at open (no variable, request 7) and, in its state
// handler, peeks at the sample after the buffer's last, as if the buffer were a block longer.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct ReadsPastBuffer : PlainModule {
    using PlainModule::PlainModule;
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        const bool known = PlainModule::getPlugProperties(index, info);
        if (index == In) info->variable = nullptr;
        return known;
    }
    void open() override {
        PlainModule::open();
        if (Plug* in = getPlug(In)) inBuffer = *static_cast<float**>(in->getValue());
    }
    void onPlugStateChange(Plug* plug) override {
        PlainModule::onPlugStateChange(plug);
        if (!inBuffer) return;
        lastPeek = inBuffer[blockSizeSeen];
    }
    void setBlockSize(int32_t size) override {
        PlainModule::setBlockSize(size);
        blockSizeSeen = size > 0 ? size : 0;
    }
    int32_t blockSizeSeen = 0;
    volatile float lastPeek = 0.0f;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"readsPastBuffer", "Reads past its buffer", faulty::kAbout,
                                     createModule<faulty::ReadsPastBuffer>};
}
