// How often a plug's value may change: what the host and a module tell each other about a plug.
#pragma once

#include <cstdint>

namespace mv {

enum StreamState : int32_t {
    Static = 0,        ///< the value does not change; every plug right after open
    SingleChange = 1,  ///< changed once; back to Static as soon as the module has been told
    Streaming = 2      ///< may change at every sample
};

}  // namespace mv
