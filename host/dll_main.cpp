// The load notification. The runtime has initialised itself before this runs on attach, and
// shuts down after it on detach; loading never fails on the module's account.
#include <windows.h>

namespace mv {
HINSTANCE libraryInstance;  // this library's own handle, kept for modules that need resources
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    mv::libraryInstance = instance;
    return TRUE;
}
