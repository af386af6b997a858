// Sends request 22 first and rewrites the process entry after it: the host, reading the
// entry when told, reads the old one.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct TellsBeforeSelect : PlainModule {
    using PlainModule::PlainModule;
    void open() override {
        ModuleBase::open();
        previous = 0.0f;
        callHost(hostProcessRoutineChanged);
        selectUntold(*this, routine);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"tellsBeforeSelect", "Tells before it selects", faulty::kAbout,
                                     createModule<faulty::TellsBeforeSelect>};
}
