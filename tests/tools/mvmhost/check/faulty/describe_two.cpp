// Answers 2 instead of 1 when it describes a plug.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct DescribeTwo : PlainModule {
    using PlainModule::PlainModule;
    intptr_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) override {
        const bool describing = opcode == OpGetPlugProperties;
        const intptr_t answer = PlainModule::dispatch(opcode, index, value, ptr, opt);
        return describing && answer == 1 ? 2 : answer;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"describeTwo", "Describe two", faulty::kAbout,
                                     createModule<faulty::DescribeTwo>};
}
