#include "host/library.h"

#include "framework/module_base.h"
#include "host/exports.h"

namespace mv {

int32_t describeModule(const LibraryModule& module, int32_t index, ModuleInfo* info) {
    if (!info) return 0;
    info->frameworkVersion = kFrameworkVersion;  // for every index, before the index is looked at
    if (index != kModuleIndex) return 0;
    info->identifier = module.identifier;
    info->name = module.name;
    info->aboutText = module.aboutText;
    return 1;
}

ModuleRecord* makeModuleOf(const LibraryModule& module, int32_t index, int32_t kind,
                           HostCallback callback, intptr_t hostHandle) {
    if (index != kModuleIndex || kind != KindModule) return nullptr;
    ModuleBase* instance = module.create(callback, hostHandle);
    return instance ? instance->getRecord() : nullptr;
}

}  // namespace mv
