#include "tools/mvmhost/runtime/module_library.h"

#include <algorithm>
#include <cstdio>
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

constexpr size_t kImageHeadBytes = size_t{1} << 16;  // where any linker puts the headers

// Little- or big-endian fields of a file's first bytes; a field past them reads as absent.
class Fields {
public:
    Fields(std::string_view head, bool bigEndian) : head_(head), big_(bigEndian) {}
    bool get(uint64_t at, size_t size, uint64_t& value) const {
        if (at > head_.size() || size > head_.size() - at) return false;
        value = 0;
        for (size_t i = 0; i < size; ++i) {
            const auto byte = static_cast<unsigned char>(head_[at + (big_ ? i : size - 1 - i)]);
            value = value << 8 | byte;
        }
        return true;
    }

private:
    std::string_view head_;
    bool big_;
};

constexpr std::string_view kElfMagic =
    "\x7f"
    "ELF";
constexpr char kElf64 = 2, kElfBigEndian = 2;
constexpr uint64_t kLoadSegment = 1;  // PT_LOAD

uint64_t elfBytesNeeded(std::string_view head) {
    const bool wide = head.size() > 4 && head[4] == kElf64;
    const Fields f(head, head.size() > 5 && head[5] == kElfBigEndian);
    // Offsets of e_phoff, e_phentsize and e_phnum, of e_shoff, e_shentsize and e_shnum, and of
    // p_offset and p_filesz in an entry.
    const uint64_t headerSize = wide ? 64 : 52;
    uint64_t phoff = 0, entrySize = 0, entries = 0;
    uint64_t shoff = 0, sectionSize = 0, sections = 0;
    if (!f.get(wide ? 32 : 28, wide ? 8 : 4, phoff) || !f.get(wide ? 54 : 42, 2, entrySize) ||
        !f.get(wide ? 56 : 44, 2, entries) || !f.get(wide ? 40 : 32, wide ? 8 : 4, shoff) ||
        !f.get(wide ? 58 : 46, 2, sectionSize) || !f.get(wide ? 60 : 48, 2, sections))
        return headerSize;
    // The section table usually closes the file: a copy cut anywhere after the loaded segments
    // (in the debug sections, say) would load, and still be only part of the library.
    uint64_t needed =
        std::max({headerSize, phoff + entrySize * entries, shoff + sectionSize * sections});
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = phoff + i * entrySize;
        uint64_t type = 0, offset = 0, size = 0;
        if (!f.get(at, 4, type) || !f.get(at + (wide ? 8 : 4), wide ? 8 : 4, offset) ||
            !f.get(at + (wide ? 32 : 16), wide ? 8 : 4, size))
            break;  // beyond the head: the table's own end above says what it can
        if (type == kLoadSegment && offset + size > offset)
            needed = std::max(needed, offset + size);
    }
    return needed;
}

constexpr std::string_view kDosMagic = "MZ";
constexpr std::string_view kPeMagic = std::string_view("PE\0\0", 4);
constexpr uint64_t kNewHeaderAt = 0x3C;    // e_lfanew
constexpr uint64_t kFileHeaderBytes = 20;  // IMAGE_FILE_HEADER
constexpr uint64_t kSizeOfHeadersAt = 60;  // in either optional header
constexpr uint64_t kSectionBytes = 40;     // IMAGE_SECTION_HEADER

uint64_t peBytesNeeded(std::string_view head) {
    const Fields f(head, false);
    uint64_t pe = 0, sections = 0, optional = 0, headers = 0;
    if (!f.get(kNewHeaderAt, 4, pe)) return kNewHeaderAt + 4;
    if (pe + kPeMagic.size() > head.size()) return pe + kPeMagic.size();
    if (head.substr(pe, kPeMagic.size()) != kPeMagic) return 0;  // a DOS program: the loader says
    const uint64_t file = pe + kPeMagic.size();
    if (!f.get(file + 2, 2, sections) || !f.get(file + 16, 2, optional))
        return file + kFileHeaderBytes;
    const uint64_t table = file + kFileHeaderBytes + optional;
    uint64_t needed = table + sections * kSectionBytes;
    if (f.get(file + kFileHeaderBytes + kSizeOfHeadersAt, 4, headers))
        needed = std::max(needed, headers);
    for (uint64_t i = 0; i < sections; ++i) {
        uint64_t size = 0, offset = 0;
        if (!f.get(table + i * kSectionBytes + 16, 4, size) ||
            !f.get(table + i * kSectionBytes + 20, 4, offset))
            break;
        if (size > 0) needed = std::max(needed, offset + size);
    }
    return needed;
}

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

// The file's size and first bytes; empty when it cannot be read (the loader then says why).
uint64_t fileSize(const std::string& path, std::string& head) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    head.resize(kImageHeadBytes);
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    return size;
}

}  // namespace

uint64_t imageBytesNeeded(std::string_view head) {
    if (head.substr(0, kElfMagic.size()) == kElfMagic) return elfBytesNeeded(head);
    if (head.substr(0, kDosMagic.size()) == kDosMagic) return peBytesNeeded(head);
    return 0;
}

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
    std::string head;
    const uint64_t size = fileSize(path, head);
    if (const uint64_t needed = imageBytesNeeded(head); needed > size && !head.empty())
        throw Error("cannot load " + path + ": the file is cut short (" + std::to_string(size) +
                    " bytes where its headers describe " + std::to_string(needed) +
                    "; a copy or download that did not finish?)");
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
