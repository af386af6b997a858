// Announces a stream state for its input instead of its output.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct BadStates : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug* plug) override {
        plug->setOutputState(getSampleClock(), plug->getStreamState());
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"badStates", "Bad states", faulty::kAbout,
                                     createModule<faulty::BadStates>};
}
