// Combines its inputs' states with the smaller instead of the busier: with one input streaming
// and the other held, it announces Static while out follows the streaming one.
#include "tests/tools/mvmhost/check/faulty/sum_module.h"

namespace mv::faulty {
namespace {

struct MinCombiner : SumModule {
    using SumModule::SumModule;
    void onPlugStateChange(Plug*) override {
        const StreamState a = stateOf(In), b = stateOf(B);
        announce(a < b ? a : b);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"minCombiner", "Min combiner", faulty::kAbout,
                                     createModule<faulty::MinCombiner>};
}
