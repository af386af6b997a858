// Rules a host relies on, held alike by the checks and the fuzzer.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "host/module_record.h"
#include "tools/mvmhost/runtime/hosted_module.h"

namespace mvmhost {

// Samples an output announced Static may take to settle after the last change that concerns
// the module: an input's, an event, an opcode or an announcement.
constexpr int32_t kSettlingSamples = 4;

// Whether the dispatcher has an operation for the opcode; every other opcode answers 0 and
// does nothing.
bool hasOperation(int32_t opcode);
// Opcodes without an operation worth trying first: the neighbours of real ones and the extremes.
// Plain arrays: the fuzzer reads them where it counts every allocation.
inline constexpr int32_t kUnknownOpcodes[] = {
    4,  5,   7,   9,   10,   11,    14,    15,         16, 17, 20,  31,   32,
    64, 100, 255, 256, 1000, 65535, 65536, 0x7FFFFFFF, -1, -2, -13, -100, INT32_MIN};
// Whether the framework acts on events of the type (0, 2 and 21); every other type does nothing.
bool actsOnEvent(int32_t type);
// Event types no module acts on.
inline constexpr int32_t kUnknownEventTypes[] = {1,  3,   4,   5,  7,   20,        22,
                                                 23, 100, 255, -1, -21, INT32_MAX, INT32_MIN};

// What an opcode without an operation or an event of an unknown type may leave: everything as
// it was. Taken before the call; what differs after it is named.
class Untouched {
public:
    explicit Untouched(const HostedModule& host);
    // Empty when no host request was made and the record's words are as they were; otherwise
    // "made host request 0 (plug 2, value 1)", "changed the record".
    std::string changed(const HostedModule& host) const;

private:
    mv::ModuleRecord record_;
    uint64_t requests_;
    size_t logged_;
};

// Host requests that name a plug in `index`: 0, 1, 4, 7 and 8. A host answers them for the
// plugs it made, and nothing else exists for it.
bool namesPlug(int32_t request);
// Empty when `request` names no plug or one of the `made` the host made; otherwise the reason.
std::string strayPlug(const LoggedRequest& request, int32_t made);
// Whether a fault's reason tells of a write into memory the module was not given (past a
// buffer, outside a stretch or a record, into an input): after one, the host's memory is
// no longer what later calls assume, so what fails after it may be its consequence.
bool corruptsMemory(const std::string& reason);

// Asks opcode 13 and holds its answer to the record a host reads: 1, the binding's size, a
// binding, 0, and the binding's routine the record's process entry. Raises what is wrong,
// naming `which` instance; answers the binding.
const mv::ProcessBinding* readProcessBinding(mv::ModuleRecord* record, const std::string& which);

}  // namespace mvmhost
