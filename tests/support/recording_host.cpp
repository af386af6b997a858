#include "tests/support/recording_host.h"

#include <cstring>

#include "host/exports.h"

namespace mv::test {

intptr_t MV_CDECL RecordingHost::callback(void* record, int32_t request, int32_t index,
                                          int32_t value, void* ptr, float opt) {
    // Module records keep the host handle at offset 8, panel records after their entry.
    uint32_t magic;
    std::memcpy(&magic, record, sizeof magic);
    intptr_t handle;
    const size_t at = magic == kModuleMagic ? offsetof(ModuleRecord, hostHandle)
                                            : sizeof(uint32_t) * 2 + sizeof(void*);
    std::memcpy(&handle, static_cast<char*>(record) + at, sizeof handle);
    auto& host = *reinterpret_cast<RecordingHost*>(handle);

    HostCall call{record, request, index, value, reinterpret_cast<intptr_t>(ptr), opt, {}};
    // A module's request 19 posts an event; the panels' request of that number does not.
    if (magic == kModuleMagic && request == hostPostEvent && ptr)
        call.event = *static_cast<ModuleEvent*>(ptr);
    host.calls.push_back(call);
    if (host.respond) return host.respond(call);
    auto it = host.answers.find(request);
    return it == host.answers.end() ? 0 : it->second;
}

std::ostream& operator<<(std::ostream& out, const RequestArgs& a) {
    return out << "request " << a.request << " (record " << a.record << ", index " << a.index
               << ", value " << a.value << ", ptr " << a.ptr << ", opt " << a.opt << ")";
}

std::vector<HostCall> RecordingHost::callsOf(int32_t request) const {
    std::vector<HostCall> found;
    for (const HostCall& call : calls)
        if (call.request == request) found.push_back(call);
    return found;
}

ModuleInstance::ModuleInstance(RecordingHost& host, bool withCallback)
    : rec(makeModule(0, KindModule, withCallback ? RecordingHost::callback : nullptr,
                     host.handle())) {}

intptr_t ModuleInstance::close() {
    if (!rec) return 0;
    const intptr_t result = dispatch(OpClose);
    rec = nullptr;
    return result;
}

}  // namespace mv::test
