// Never announces a state: a host takes out as Static from open and stops listening to it.
#include "tests/tools/mvmhost/check/faulty/sum_module.h"

namespace mv::faulty {
namespace {

struct NeverAnnounces : SumModule {
    using SumModule::SumModule;
    void onPlugStateChange(Plug*) override {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"neverAnnounces", "Never announces", faulty::kAbout,
                                     createModule<faulty::NeverAnnounces>};
}
