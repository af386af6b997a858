#include "tools/mvmhost/contract/host_rules.h"

#include <cstring>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/contract/host_calls.h"

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
