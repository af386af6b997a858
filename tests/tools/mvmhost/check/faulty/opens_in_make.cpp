// Opens itself in makeModule, asking the host for its plug count before the host has the record.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

ModuleBase* makeOpened(HostCallback callback, intptr_t hostHandle) {
    ModuleBase* module = createModule<PlainModule>(callback, hostHandle);
    if (module) module->dispatch(OpOpen, 0, 0, nullptr, 0.0f);
    return module;
}

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"opensInMake", "Opens in makeModule", faulty::kAbout,
                                     faulty::makeOpened};
}
