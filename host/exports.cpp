#include "host/exports.h"

#include "host/library.h"

using namespace mv;

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, ModuleInfo* info) {
    return describeModule(libraryModule, index, info);
}

extern "C" MV_EXPORT ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                       HostCallback callback, intptr_t hostHandle) {
    return makeModuleOf(libraryModule, index, kind, callback, hostHandle);
}
