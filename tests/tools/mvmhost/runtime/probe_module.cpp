#include "tests/tools/mvmhost/runtime/probe_module.h"

#include "host/exports.h"

namespace mvmhost::test {

ProbeSetup probeSetup;
std::vector<std::string> probeLog;
std::vector<float> probeEventValues;
int probesDestroyed = 0;

namespace {

int32_t MV_CDECL probeProperties(int32_t index, mv::ModuleInfo* info) {
    info->frameworkVersion = mv::kFrameworkVersion;
    if (index != 0) return 0;
    info->identifier = "probe";
    info->name = "Probe";
    info->aboutText = "A module for tests.";
    return 1;
}

mv::ModuleRecord* MV_CDECL makeProbe(int32_t index, int32_t kind, mv::HostCallback callback,
                                     intptr_t hostHandle) {
    if (index != 0 || kind != mv::KindModule || probeSetup.noInstance) return nullptr;
    return (new ProbeModule(callback, hostHandle, probeSetup))->getRecord();
}

}  // namespace

EntryPoints probeEntries() { return {probeProperties, makeProbe}; }

ProbeModule::ProbeModule(mv::HostCallback callback, intptr_t hostHandle, ProbeSetup setup)
    : ModuleBase(callback, hostHandle), setup_(std::move(setup)) {}

ProbeModule::~ProbeModule() { ++probesDestroyed; }

void ProbeModule::open() {
    ModuleBase::open();
    setProcessRoutine({process, 0, 0, 0});
    if (setup_.postRoutineAt >= 0)
        scheduleCall(setup_.postRoutineAt, mv::routineOf<ProbeModule, &ProbeModule::routine>);
}

intptr_t ProbeModule::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    const intptr_t answer = ModuleBase::dispatch(opcode, index, value, ptr, opt);
    return opcode == mv::OpGetPlugProperties && answer == 1 ? setup_.opcode6Answer : answer;
}

bool ProbeModule::getPlugProperties(int32_t index, mv::PlugInfo* info) {
    if (setup_.describesForever) {
        info->name = "again";
        info->datatype = mv::Signal;
        return true;
    }
    if (index < 0 || index >= static_cast<int32_t>(setup_.plugs.size())) return false;
    const ProbePlug& plug = setup_.plugs[static_cast<size_t>(index)];
    info->name = plug.name;
    info->direction = plug.direction;
    info->datatype = plug.datatype;
    info->flags = plug.flags;
    info->variable = plug.withVariable ? &slots[index] : nullptr;
    if (plug.datatype == mv::Enumerated) info->listText = "Off,On";
    return true;
}

void ProbeModule::onPlugStateChange(mv::Plug* plug) {
    probeLog.push_back("e" + std::to_string(getSampleClock()) + ":" +
                       std::to_string(plug->getIndex()) + "=" +
                       std::to_string(plug->getStreamState()));
    probeEventValues.push_back(plug->getDatatype() == mv::Signal ? plug->currentValue() : 0.0f);
}

void ProbeModule::routine() { probeLog.push_back("r" + std::to_string(getSampleClock())); }

void MV_CDECL ProbeModule::process(void* instance, int32_t start, int32_t count) {
    auto& m = *static_cast<ProbeModule*>(static_cast<ModuleBase*>(instance));
    probeLog.push_back("p" + std::to_string(m.getSampleClock()) + "+" + std::to_string(count));
    const float* in = nullptr;
    for (size_t i = 0; i < m.setup_.plugs.size() && !in; ++i)
        if (m.setup_.plugs[i].datatype == mv::Signal &&
            m.setup_.plugs[i].direction == mv::PlugInput && m.setup_.plugs[i].withVariable)
            in = m.slots[i].buffer;
    for (size_t i = 0; i < m.setup_.plugs.size(); ++i) {
        const ProbePlug& plug = m.setup_.plugs[i];
        float* out = m.slots[i].buffer;
        if (plug.datatype != mv::Signal || plug.direction != mv::PlugOutput || !plug.withVariable ||
            !out)
            continue;
        for (int32_t k = start; k < start + count; ++k) out[k] = in ? in[k] : 0.0f;
        if (m.setup_.strayWrite > 0) out[m.getBlockSize()] = 1.0f;
        if (m.setup_.strayWrite < 0) out[-1] = 1.0f;
    }
}

}  // namespace mvmhost::test
