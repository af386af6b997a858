// A host for tests: creates modules through the exports, logs every request with its
// arguments, and answers programmable values.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

#include "framework/module_base.h"
#include "host/module_event.h"
#include "host/module_record.h"

namespace mv::test {

// The arguments of one request, comparable in a single expectation.
struct RequestArgs {
    void* record;
    int32_t request, index, value;
    intptr_t ptr;
    float opt;
    bool operator==(const RequestArgs& o) const {
        return record == o.record && request == o.request && index == o.index && value == o.value &&
               ptr == o.ptr && opt == o.opt;
    }
};
std::ostream& operator<<(std::ostream& out, const RequestArgs& args);

struct HostCall {
    void* record;
    int32_t request;
    int32_t index;
    int32_t value;
    intptr_t ptr;
    float opt;
    ModuleEvent event;  // request 19: a copy of the posted event, taken during the call

    RequestArgs args() const { return {record, request, index, value, ptr, opt}; }
};

class RecordingHost {
public:
    RecordingHost() = default;
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // The callback to hand a module or panel; finds this host through the record's host handle.
    static intptr_t MV_CDECL callback(void* record, int32_t request, int32_t index, int32_t value,
                                      void* ptr, float opt);
    intptr_t handle() { return reinterpret_cast<intptr_t>(this); }

    // Answers: `respond` when set, else `answers[request]`, else 0.
    std::function<intptr_t(const HostCall&)> respond;
    std::map<int32_t, intptr_t> answers;

    std::vector<HostCall> calls;
    std::vector<HostCall> callsOf(int32_t request) const;
    size_t count(int32_t request) const { return callsOf(request).size(); }
};

// One module instance made through `makeModule`, closed with opcode 1 unless already closed.
class ModuleInstance {
public:
    explicit ModuleInstance(RecordingHost& host, bool withCallback = true);
    ~ModuleInstance() { close(); }
    ModuleInstance(const ModuleInstance&) = delete;
    ModuleInstance& operator=(const ModuleInstance&) = delete;

    ModuleRecord* record() const { return rec; }
    template <class M = ModuleBase>
    M& module() const {
        return *static_cast<M*>(static_cast<ModuleBase*>(rec->instance));
    }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const {
        return rec->dispatcherEntry(rec, opcode, index, value, ptr, opt);
    }
    void open() const { dispatch(OpOpen); }
    void process(int32_t start, int32_t count) const {
        rec->processEntry(rec->instance, start, count);
    }
    void deliver(ModuleEvent event) const { rec->eventEntry(rec->instance, &event); }
    intptr_t close();

private:
    ModuleRecord* rec = nullptr;
};

}  // namespace mv::test
