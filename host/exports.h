// The library's two exports, as the host calls them.
#pragma once

#include <cstdint>

#include "host/abi.h"
#include "host/module_info.h"
#include "host/module_record.h"

namespace mv {

// The one module type a library holds.
constexpr int32_t kModuleIndex = 0;

enum ObjectKind : int32_t { KindModule = 1 };

}  // namespace mv

extern "C" {
// Writes the framework version always, and the identity when `index` is 0 (answers 1).
MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, mv::ModuleInfo* info);
// A new instance's record, or null for another index or kind, or when memory runs out.
MV_EXPORT mv::ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                mv::HostCallback callback, intptr_t hostHandle);
}
