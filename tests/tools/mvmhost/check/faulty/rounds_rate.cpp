// Keeps the sample rate as a whole number of hertz, so the record no longer holds what the
// host sent.
#include <cmath>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct RoundsRate : PlainModule {
    using PlainModule::PlainModule;
    void setSampleRate(float rate) override { PlainModule::setSampleRate(std::floor(rate)); }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"roundsRate", "Rounds its rate", faulty::kAbout,
                                     createModule<faulty::RoundsRate>};
}
