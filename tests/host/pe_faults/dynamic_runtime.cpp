// A library with the right exports that needs the C++ runtime's DLL: the PE check must refuse it.
#include <cstdint>
#include <string>

extern "C" int32_t getModuleProperties(int32_t index, void*) {
    static std::string text;
    text = std::to_string(index);
    return static_cast<int32_t>(text.size());
}
extern "C" void* makeModule(int32_t, int32_t, void*, intptr_t) { return nullptr; }
