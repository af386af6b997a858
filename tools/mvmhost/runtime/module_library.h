// Loading a module library file and reaching its two exports: everything a host needs before
// it can make an instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/module_info.h"
#include "host/module_record.h"

namespace mvmhost {

using GetModuleProperties = int32_t(MV_CDECL*)(int32_t index, mv::ModuleInfo* info);
using MakeModule = mv::ModuleRecord*(MV_CDECL*)(int32_t index, int32_t kind,
                                                mv::HostCallback callback, intptr_t hostHandle);

// A library's two exports. Tests hand in entry points of modules linked into the test.
struct EntryPoints {
    GetModuleProperties getModuleProperties = nullptr;
    MakeModule makeModule = nullptr;
};

// Windows: what a loaded library is to call instead of one function it imports from `dll`, given
// the address the loader bound; `bound` itself leaves the import as it is. Every library
// loaded here passes each of its imports by name through the one redirector set, right after
// the loader bound them and before anything of the library but its load notification runs.
using ImportRedirector = void* (*)(const char* dll, const char* function, void* bound);
void setImportRedirector(ImportRedirector redirector);

// Bytes a library file must hold for what its headers describe, as far as a loader maps it
// (ELF program headers and loaded segments, PE headers and sections); 0 when `head`, the
// file's first bytes, is neither or does not reach far enough to tell. A file shorter than
// this is cut short: loading it would fault on the first page past its end.
uint64_t imageBytesNeeded(std::string_view head);

// A library file loaded with the platform's loader, unloaded on destruction.
class ModuleLibrary {
public:
    // Throws Error naming the path and the reason: no such file, cut short, not loadable, no
    // exports.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    const EntryPoints& entries() const { return entries_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    EntryPoints entries_;
};

// A copy of a library file loaded under a name of its own: it starts with none of the state an
// earlier load left (a table built on first use, a count of instances), as a library a host
// has just loaded does. The copy is removed when it is unloaded.
class FreshLibrary {
public:
    // `tag` tells this copy from others of the same file ("realtime-allocation").
    FreshLibrary(const std::string& path, const std::string& tag);
    ~FreshLibrary();
    FreshLibrary(const FreshLibrary&) = delete;
    FreshLibrary& operator=(const FreshLibrary&) = delete;
    const EntryPoints& entries() const { return library_->entries(); }

private:
    std::string copy_;
    std::unique_ptr<ModuleLibrary> library_;
};

// What getModuleProperties tells about module index 0.
struct ModuleIdentity {
    std::string identifier;
    std::string name;
    std::string aboutText;
    int32_t frameworkVersion = 0;
};

// Throws Error when the library answers that it holds no module at index 0.
ModuleIdentity readIdentity(const EntryPoints& entries);

// The library file named COUNTreset1.mvm beside this program, the demo's default.
std::string libraryBesideProgram(const char* fileName);

}  // namespace mvmhost
