#include "tools/mvmhost/runtime/module_library.h"

#include <filesystem>
#include <system_error>

#include "tools/mvmhost/base/error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
std::string lastSystemError() {
    char text[512] = {};
    const DWORD code = GetLastError();
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
    std::string message = n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
    const size_t insert = message.find("%1");  // the file; the caller names it already
    if (insert != std::string::npos) message.replace(insert, 2, "the file");
    return message;
}

ImportRedirector importRedirector = nullptr;

template <class T>
T* at(HMODULE module, DWORD offset) {
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(module) + offset);
}

// Rewrites the entries of the library's import address table that the redirector names.
// Imports by ordinal and descriptors without their name table (bound by an old linker) have
// no name to go by and keep what the loader bound.
void redirectImports(HMODULE module) {
    if (!importRedirector) return;
    const auto* nt =
        at<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(at<IMAGE_DOS_HEADER>(module, 0)->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;
        const char* dll = at<const char>(module, d->Name);
        const auto* names = at<IMAGE_THUNK_DATA>(module, d->OriginalFirstThunk);
        auto* slots = at<IMAGE_THUNK_DATA>(module, d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                at<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            void* bound = reinterpret_cast<void*>(slots->u1.Function);
            void* wanted =
                importRedirector(dll, reinterpret_cast<const char*>(byName->Name), bound);
            DWORD protection = 0;
            if (wanted == bound || !VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function,
                                                   PAGE_READWRITE, &protection))
                continue;
            slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(wanted);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        }
    }
}

void* openLibrary(const std::string& path, std::string& error) {
    // No message boxes: a host without a console user must fail with a message, not hang.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        error = lastSystemError();
    else
        redirectImports(module);
    return reinterpret_cast<void*>(module);
}

void* findSymbol(void* library, const char* name) {
    // Through void (*)(): the one function type a cast may pass through without a warning.
    auto symbol = reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(library), name));
    return reinterpret_cast<void*>(symbol);
}

void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        error = dlerror();
        // The loader puts the path in front; the caller names it already.
        if (error.compare(0, path.size() + 2, path + ": ") == 0) error.erase(0, path.size() + 2);
    }
    return library;
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

void closeLibrary(void* library) { dlclose(library); }
#endif

template <class Function>
Function symbolAs(void* library, const char* name) {
    return reinterpret_cast<Function>(findSymbol(library, name));
}

}  // namespace

#if defined(_WIN32)
void setImportRedirector(ImportRedirector redirector) { importRedirector = redirector; }
#else
void setImportRedirector(ImportRedirector) {
}  // the dynamic linker lets the program's own allocator win
#endif

ModuleLibrary::ModuleLibrary(const std::string& path) : path_(path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw Error("cannot open " + path + ": no such file");
    if (fs::is_directory(status)) throw Error("cannot open " + path + ": it is a directory");
    // By absolute path, so that neither loader goes searching its own directories.
    const std::string absolute = fs::absolute(path, ec).string();
    std::string error;
    handle_ = openLibrary(ec ? path : absolute, error);
    if (!handle_) throw Error("cannot load " + path + ": " + error);
    entries_.getModuleProperties = symbolAs<GetModuleProperties>(handle_, "getModuleProperties");
    entries_.makeModule = symbolAs<MakeModule>(handle_, "makeModule");
    if (!entries_.getModuleProperties || !entries_.makeModule) {
        const char* missing = entries_.getModuleProperties ? "makeModule" : "getModuleProperties";
        closeLibrary(handle_);
        throw Error(path + " is not a module library: it exports no " + missing);
    }
}

ModuleLibrary::~ModuleLibrary() { closeLibrary(handle_); }

FreshLibrary::FreshLibrary(const std::string& path, const std::string& tag) {
#if defined(_WIN32)
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    std::error_code ec;
    const fs::path copy =
        fs::temp_directory_path(ec) / ("mvmhost-" + std::to_string(process) + "-" + tag + "-" +
                                       fs::path(path).filename().string());
    copy_ = copy.string();
    if (ec || !fs::copy_file(path, copy, fs::copy_options::overwrite_existing, ec))
        throw Error("cannot copy " + path + " to " + copy_ + " to load it afresh");
    try {
        library_ = std::make_unique<ModuleLibrary>(copy_);
    } catch (...) {
        fs::remove(copy, ec);
        throw;
    }
}

FreshLibrary::~FreshLibrary() {
    library_.reset();
    std::error_code ec;
    fs::remove(copy_, ec);
}

ModuleIdentity readIdentity(const EntryPoints& entries) {
    mv::ModuleInfo info{};
    const int32_t answer = entries.getModuleProperties(0, &info);
    if (answer != 1)
        throw Error("getModuleProperties(0) answered " + std::to_string(answer) +
                    ": the library holds no module at index 0");
    auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    return {text(info.identifier), text(info.name), text(info.aboutText), info.frameworkVersion};
}

std::string libraryBesideProgram(const char* fileName) {
#if defined(_WIN32)
    char self[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    const fs::path program(std::string(self, n));
#else
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
#endif
    return (program.parent_path() / fileName).string();
}

}  // namespace mvmhost
