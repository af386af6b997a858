// Hands out every text from one scratch buffer: its display name, and then each plug's
// default, so describing a plug rewrites the name the host was given.
#include <cstring>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

char scratch[32] = "Scratch texts";

struct ScratchTexts : PlainModule {
    using PlainModule::PlainModule;
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (!PlainModule::getPlugProperties(index, info)) return false;
        if (info->defaultValue) {
            std::strncpy(scratch, info->defaultValue, sizeof scratch - 1);
            info->defaultValue = scratch;
        }
        return true;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"scratchTexts", faulty::scratch, faulty::kAbout,
                                     createModule<faulty::ScratchTexts>};
}
