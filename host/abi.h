// Calling convention and export markers for everything that crosses the host boundary.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define MV_CDECL __cdecl
#else
#define MV_CDECL  // the platform has one C calling convention
#endif

#if defined(_WIN32)
#define MV_EXPORT  // cmake/module.def.in lists the exports, undecorated
#else
#define MV_EXPORT __attribute__((visibility("default")))
#endif
