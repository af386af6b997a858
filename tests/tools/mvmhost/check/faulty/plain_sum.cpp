// The sum module itself, which must pass every check: it announces Static while both inputs hold.
#include "tests/tools/mvmhost/check/faulty/sum_module.h"

namespace mv {
const LibraryModule libraryModule = {"plainSum", "Plain sum", faulty::kAbout,
                                     createModule<faulty::SumModule>};
}
