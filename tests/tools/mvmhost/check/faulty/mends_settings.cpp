// Stores a sample rate or block size it finds odd as one it likes better, so the record no
// longer holds what the host sent.
#include <cmath>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr float kFallbackRate = 44100.0f;
constexpr int32_t kFallbackSize = 1024;

struct MendsSettings : PlainModule {
    using PlainModule::PlainModule;
    void setSampleRate(float rate) override {
        PlainModule::setSampleRate(std::isfinite(rate) && rate > 0.0f ? rate : kFallbackRate);
    }
    void setBlockSize(int32_t size) override {
        PlainModule::setBlockSize(size > 0 ? size : kFallbackSize);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"mendsSettings", "Mends settings", faulty::kAbout,
                                     createModule<faulty::MendsSettings>};
}
