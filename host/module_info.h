// The identity record the host owns and `getModuleProperties` fills.
#pragma once

#include <cstdint>

#include "host/layout.h"

namespace mv {

struct ModuleInfo {
    const char* identifier;    ///< zero-terminated 8-bit text, static
    const char* name;          ///< display name, zero-terminated 8-bit text, static
    const char* aboutText;     ///< lines joined by line feeds, static
    uint8_t hostBytes[8];      ///< the host's own; never written
    int32_t frameworkVersion;  ///< written for every index, before the index is examined
};

constexpr int32_t kFrameworkVersion = 2230;

MV_PIN_FIELD(ModuleInfo, identifier, 0, 0);
MV_PIN_FIELD(ModuleInfo, name, 4, 8);
MV_PIN_FIELD(ModuleInfo, aboutText, 8, 16);
MV_PIN_FIELD(ModuleInfo, hostBytes, 12, 24);
MV_PIN_FIELD(ModuleInfo, frameworkVersion, 20, 32);
MV_PIN_SIZE(ModuleInfo, 24, 40);

}  // namespace mv
