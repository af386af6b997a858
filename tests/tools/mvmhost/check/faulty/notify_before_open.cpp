// Looks at its input plug whenever the host notifies it (opcode 8), as if the plugs existed from
// the start: before open there are none.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct NotifyBeforeOpen : PlainModule {
    using PlainModule::PlainModule;
    void onNotify() override { notifiedStreaming = getPlug(In)->getStreamState() == Streaming; }
    bool notifiedStreaming = false;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"notifyBeforeOpen", "Notify before open", faulty::kAbout,
                                     createModule<faulty::NotifyBeforeOpen>};
}
