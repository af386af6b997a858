// Gives its list plug a default value that is not one of the list's values.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct BadList : PlainModule {
    using PlainModule::PlainModule;
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (!PlainModule::getPlugProperties(index, info)) return false;
        if (index == Mode) info->defaultValue = "5";
        return true;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"badList", "Bad list", faulty::kAbout,
                                     createModule<faulty::BadList>};
}
