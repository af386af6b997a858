// The plain module itself, which must pass every check.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv {
const LibraryModule libraryModule = {"plain", "Plain", faulty::kAbout,
                                     createModule<faulty::PlainModule>};
}
