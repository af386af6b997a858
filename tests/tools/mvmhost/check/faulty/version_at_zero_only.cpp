// The plain module behind exports of its own whose getModuleProperties writes the framework
// version only for the index it serves.
#include "host/exports.h"
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, mv::ModuleInfo* info) {
    if (!info || index != mv::kModuleIndex) return 0;
    info->frameworkVersion = mv::kFrameworkVersion;
    info->identifier = "versionAtZeroOnly";
    info->name = "Version at 0 only";
    info->aboutText = mv::faulty::kAbout;
    return 1;
}

extern "C" MV_EXPORT mv::ModuleRecord* MV_CDECL makeModule(int32_t index, int32_t kind,
                                                           mv::HostCallback callback,
                                                           intptr_t hostHandle) {
    if (index != mv::kModuleIndex || kind != mv::KindModule) return nullptr;
    mv::ModuleBase* module = mv::createModule<mv::faulty::PlainModule>(callback, hostHandle);
    return module ? module->getRecord() : nullptr;
}
