// Which checks a run takes, in table order: the level, then --only, --include and --exclude.
#pragma once

#include <vector>

#include "tools/mvmhost/check/check_list.h"

namespace mvmhost {

// Throws Error for a name no check has, a pattern that is no regular expression, or a
// choice that leaves nothing to run.
std::vector<const CheckDefinition*> selectChecks(const CheckOptions& options);

}  // namespace mvmhost
