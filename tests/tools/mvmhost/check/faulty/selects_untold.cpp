// Selects its process routine at open by writing the binding and the record itself, and
// never sends request 22: a host that reads the entry when told keeps calling the empty one.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct SelectsUntold : PlainModule {
    using PlainModule::PlainModule;
    void open() override {
        ModuleBase::open();
        previous = 0.0f;
        selectUntold(*this, routine);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"selectsUntold", "Selects untold", faulty::kAbout,
                                     createModule<faulty::SelectsUntold>};
}
