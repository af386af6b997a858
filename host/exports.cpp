#include "host/exports.h"

#include "framework/module_base.h"
#include "host/library.h"

using namespace mv;

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, ModuleInfo* info) {
    if (!info) return 0;
    info->frameworkVersion = kFrameworkVersion;  // for every index, before the index is looked at
    if (index != kModuleIndex) return 0;
    info->identifier = libraryModule.identifier;
    info->name = libraryModule.name;
    info->aboutText = libraryModule.aboutText;
    return 1;
}

extern "C" MV_EXPORT ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                       HostCallback callback, intptr_t hostHandle) {
    if (index != kModuleIndex || kind != KindModule) return nullptr;
    ModuleBase* module = libraryModule.create(callback, hostHandle);
    return module ? module->getRecord() : nullptr;
}
