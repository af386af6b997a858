// mvmhost: loads a module library as the host does and shows what it offers.
#include <cstdio>
#include <cstring>

#include <dlfcn.h>

#include "host/module_info.h"
#include "host/module_record.h"
#include "host/plug_info.h"

namespace {

using GetModuleProperties = int32_t(MV_CDECL*)(int32_t, mv::ModuleInfo*);
using MakeModule = mv::ModuleRecord*(MV_CDECL*)(int32_t, int32_t, mv::HostCallback, intptr_t);

intptr_t MV_CDECL answerNothing(void*, int32_t, int32_t, int32_t, void*, float) { return 0; }

int info(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return std::fprintf(stderr, "mvmhost: cannot load %s: %s\n", path, dlerror()), 2;
    auto properties = reinterpret_cast<GetModuleProperties>(dlsym(lib, "getModuleProperties"));
    auto make = reinterpret_cast<MakeModule>(dlsym(lib, "makeModule"));
    if (!properties || !make) return std::fprintf(stderr, "mvmhost: %s is not a module library\n", path), 2;

    mv::ModuleInfo identity{};
    if (properties(0, &identity) != 1) return std::fprintf(stderr, "mvmhost: no module at index 0\n"), 2;
    std::printf("%s (%s), framework %d\n\n%s\n\n", identity.name, identity.identifier,
                identity.frameworkVersion, identity.aboutText);

    mv::ModuleRecord* record = make(0, 1, answerNothing, 0);
    if (!record) return std::fprintf(stderr, "mvmhost: makeModule answered null\n"), 2;
    std::printf("%-5s %-12s %-6s %-10s %s\n", "plug", "name", "dir", "datatype", "default");
    for (int32_t i = 0;; ++i) {
        mv::PlugInfo plug{};
        if (record->dispatcherEntry(record, mv::OpGetPlugProperties, i, 0, &plug, 0.0f) != 1) break;
        std::printf("%-5d %-12s %-6s %-10s %s\n", i, plug.name, plug.direction ? "out" : "in",
                    plug.datatype == mv::Signal ? "signal" : plug.datatype == mv::Enumerated ? "list" : "other",
                    plug.defaultValue ? plug.defaultValue : "-");
    }
    record->dispatcherEntry(record, mv::OpClose, 0, 0, nullptr, 0.0f);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "info") == 0) return info(argv[2]);
    std::fprintf(stderr, "usage: mvmhost info LIB\n");
    return 2;
}
