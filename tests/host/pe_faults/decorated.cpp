// A library with one export too many, and that one decorated: the PE check must refuse it.
#include <cstdint>

extern "C" __declspec(dllexport) int32_t getModuleProperties(int32_t, void*) { return 0; }
extern "C" __declspec(dllexport) void* makeModule(int32_t, int32_t, void*, intptr_t) {
    return nullptr;
}
extern "C" __declspec(dllexport) int32_t __stdcall extra(int32_t x) { return x; }
