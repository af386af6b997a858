// Answers 1 to open, as if reporting success; a host reads 0 there.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct OpenAnswersOne : PlainModule {
    using PlainModule::PlainModule;
    intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) override {
        const intptr_t answer = PlainModule::dispatch(opcode, index, value, ptr, opt);
        return opcode == OpOpen
                   ? 1
                   : answer;  // after opcode 1 the object is gone: only the arguments are read
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"openAnswersOne", "Open answers one", faulty::kAbout,
                                     createModule<faulty::OpenAnswersOne>};
}
