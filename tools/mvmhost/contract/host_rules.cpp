#include "tools/mvmhost/contract/host_rules.h"

#include <cstring>

#include "host/module_event.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/rig.h"

namespace mvmhost {

bool hasOperation(int32_t opcode) {
    switch (opcode) {
    case mv::OpOpen:
    case mv::OpClose:
    case mv::OpSetSampleRate:
    case mv::OpSetBlockSize:
    case mv::OpGetPlugProperties:
    case mv::OpNotify:
    case mv::OpCommand:
    case mv::OpGetProcessBindingInfo:
        return true;
    default:
        return false;
    }
}

bool actsOnEvent(int32_t type) {
    return type == mv::PlugStateChange || type == mv::DataEvent || type == mv::RoutineCall;
}

Untouched::Untouched(const HostedModule& host)
    : record_(*host.record()), requests_(totalRequests(host)), logged_(host.log().size()) {}

std::string Untouched::changed(const HostedModule& host) const {
    if (totalRequests(host) != requests_) {
        if (host.log().size() <= logged_) return "made a host request";
        const LoggedRequest& r = host.log()[logged_];
        return "made a host request (request " + std::to_string(r.request) + ", plug " +
               std::to_string(r.index) + ", value " + std::to_string(r.value) + ")";
    }
    if (std::memcmp(&record_, host.record(), sizeof record_) != 0) return "changed the record";
    return {};
}

bool namesPlug(int32_t request) {
    switch (request) {
    case mv::hostSetOutputState:
    case mv::hostPlugQuery:
    case mv::hostPlugNotice:
    case mv::hostGetPlugValuePointer:
    case mv::hostGetBlockStartClock:
        return true;
    default:
        return false;
    }
}

std::string strayPlug(const LoggedRequest& r, int32_t made) {
    if (!namesPlug(r.request) || (r.index >= 0 && r.index < made)) return {};
    return "host request " + std::to_string(r.request) + " names plug " + std::to_string(r.index) +
           " at clock " + std::to_string(r.clock) + ", but the host made " + std::to_string(made) +
           (made > 0 ? " plugs (0 to " + std::to_string(made - 1) + ")" : " plugs");
}

bool corruptsMemory(const std::string& reason) {
    // The words the checks and the rig use for such writes.
    static const char* const kPhrases[] = {"wrote past",    "wrote outside",
                                           "wrote into",    "outside the stretch",
                                           "of the input ", "touched unreadable memory"};
    for (const char* phrase : kPhrases) {
        const size_t at = reason.find(phrase);
        if (at == std::string::npos) continue;
        if (std::strcmp(phrase, "of the input ") != 0 ||
            reason.rfind("changed sample", at) != std::string::npos)
            return true;
    }
    return false;
}

const mv::ProcessBinding* readProcessBinding(mv::ModuleRecord* record, const std::string& which) {
    const intptr_t answer = dispatch(record, mv::OpGetProcessBindingInfo);
    if (!answer) fault("opcode 13 answered null for " + which);
    mv::ProcessBindingInfo info;
    std::memcpy(&info, reinterpret_cast<const void*>(answer), sizeof info);
    if (info.one != 1)
        fault("ProcessBindingInfo's first word is " + std::to_string(info.one) + ", not 1");
    if (info.bindingSize != static_cast<int32_t>(sizeof(mv::ProcessBinding)))
        fault("ProcessBindingInfo gives a binding size of " + std::to_string(info.bindingSize) +
              ", not " + std::to_string(sizeof(mv::ProcessBinding)));
    if (info.zero != 0)
        fault("ProcessBindingInfo's last word is " + std::to_string(info.zero) + ", not 0");
    if (!info.binding) fault("ProcessBindingInfo names no binding for " + which);
    if (info.binding->routine != record->processEntry)
        fault("the binding's routine for " + which + " is not the record's processEntry");
    return info.binding;
}

}  // namespace mvmhost
