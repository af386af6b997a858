// What a module library tells the exports about its one module type (module index 0).
#pragma once

#include <cstdint>

#include "host/module_info.h"
#include "host/module_record.h"

namespace mv {

class ModuleBase;

struct LibraryModule {
    const char* identifier;  ///< static text
    const char* name;        ///< static text
    const char* aboutText;   ///< static text, lines joined by single line feeds
    // Allocates and constructs an instance; null when memory runs out. Never throws.
    ModuleBase* (*create)(HostCallback callback, intptr_t hostHandle);
};

// The `create` of a module class made with (callback, hostHandle); its class-level allocation
// answers null when memory runs out.
template <class M>
ModuleBase* createModule(HostCallback callback, intptr_t hostHandle) {
    return new M(callback, hostHandle);
}

// Defined once per library, beside its module class.
extern const LibraryModule libraryModule;

// What the two exports do for a module; a library that defines the exports itself (to wrap a
// module, say) answers through these too.
int32_t describeModule(const LibraryModule& module, int32_t index, ModuleInfo* info);
ModuleRecord* makeModuleOf(const LibraryModule& module, int32_t index, int32_t kind,
                           HostCallback callback, intptr_t hostHandle);

}  // namespace mv
