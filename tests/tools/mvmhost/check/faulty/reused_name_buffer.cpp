// Copies each plug's name into one buffer for the whole library and hands that out, so a name
// the host kept reads as whichever plug was described last.
#include <cstring>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

char nameBuffer[16];

struct ReusedNameBuffer : PlainModule {
    using PlainModule::PlainModule;
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (!PlainModule::getPlugProperties(index, info)) return false;
        std::strncpy(nameBuffer, info->name, sizeof nameBuffer - 1);
        info->name = nameBuffer;
        return true;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"reusedNameBuffer", "Reused name buffer", faulty::kAbout,
                                     createModule<faulty::ReusedNameBuffer>};
}
