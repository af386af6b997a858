#include "modules/count_reset/count_reset_module.h"

#include <charconv>
#include <cstring>
#include <initializer_list>

#include "host/library.h"
#include "modules/count_reset/count_kernel.h"

namespace mv {
namespace {

// The per-sample build (MV_COUNT_PER_SAMPLE) runs the reference routine, for comparisons.
#ifdef MV_COUNT_PER_SAMPLE
constexpr bool kPerSampleBuild = true;
#else
constexpr bool kPerSampleBuild = false;
#endif

char resetList[kResetListLength + 1];
bool resetListPending = true;

struct PlugDescription {
    const char* name;
    PlugDirection direction;
    PlugDatatype datatype;
    const char* defaultValue;  // null: the caller's field is left as it is
};

const PlugDescription kPlugs[CountResetPlugCount] = {
    {"upCOUNT", PlugInput, Signal, "0"},       {"reset@", PlugInput, Enumerated, "7"},
    {"upZERO", PlugInput, Signal, "0"},        {"bySTEP", PlugInput, Signal, "0.1"},
    {"OUTclimb", PlugOutput, Signal, nullptr}, {"RESETpulse", PlugOutput, Signal, nullptr},
};

}  // namespace

const char* buildResetList() {
    if (resetListPending) {
        char* end = resetList + sizeof resetList - 1;
        char* at = resetList;
        std::memcpy(at, "1=0", 3);
        at += 3;
        for (int i = 1; i < 999; ++i) {  // ",<label>=<value>", the label being value + 1
            *at++ = ',';
            at = std::to_chars(at, end, i + 1).ptr;
            *at++ = '=';
            at = std::to_chars(at, end, i).ptr;
        }
        *at = '\0';
        resetListPending = false;
    }
    return resetList;
}

CountResetModule::CountResetModule(HostCallback callback, intptr_t hostHandle)
    : ModuleBase(callback, hostHandle) {}

CountResetModule::~CountResetModule() = default;

bool CountResetModule::getPlugProperties(int32_t index, PlugInfo* info) {
    const char* list = buildResetList();
    if (static_cast<uint32_t>(index) >= CountResetPlugCount) return false;
    void* const variables[CountResetPlugCount] = {&upCountBuffer,  &resetValue,
                                                  &upZeroBuffer,   &byStepBuffer,
                                                  &outClimbBuffer, &resetPulseBuffer};
    const PlugDescription& plug = kPlugs[index];
    info->variable = variables[index];
    info->direction = plug.direction;
    info->datatype = plug.datatype;
    info->name = plug.name;
    if (plug.defaultValue) info->defaultValue = plug.defaultValue;
    if (index == ResetAt) info->listText = list;
    return true;
}

void CountResetModule::open() {
    ModuleBase::open();
    resetValue = kInitialResetValue;
    threshold = kThreshold;
    // Seeded high, so the first sample after open is never a rising edge.
    previousUpCount = threshold + kSeedStep;
    previousUpZero = previousUpCount;
    accumulator = 0.0f;
    pulseCountdown = 0;
    setProcessRoutine({kPerSampleBuild ? countSamples : fastestRoutine(), 0, 0, 0});
}

// Aligned alike in every build: placed as the linker pleased, the loop ran 16-sample calls up
// to half as fast again in one library as in another.
[[gnu::aligned(64)]] void MV_CDECL CountResetModule::countSamples(void* instance, int32_t start,
                                                                  int32_t count) {
    static_cast<CountResetModule*>(static_cast<ModuleBase*>(instance))->countEach(start, count);
}

void CountResetModule::onPlugStateChange(Plug*) {
    // A missing input reads as Static at 0 V.
    auto inputState = [this](int32_t index, float& current) {
        Plug* plug = getPlug(index);
        current = plug ? plug->currentValue() : 0.0f;
        return plug ? plug->getStreamState() : Static;
    };
    float upCount = 0.0f, upZero = 0.0f;
    const StreamState a = inputState(UpCount, upCount);
    const StreamState b = inputState(UpZero, upZero);
    StreamState state = a > b ? a : b;
    if (a < Streaming && !(upCount > threshold)) state = SingleChange;
    if (b < Streaming && !(upZero > threshold)) state = SingleChange;
    for (const int32_t output : {int32_t{OutClimb}, int32_t{ResetPulse}}) {
        if (Plug* plug = getPlug(output)) plug->setOutputState(getSampleClock(), state);
    }
}

namespace {

const char kAboutText[] =
    "   countRESET1 \n"
    "* * * * * * * * * * \n"
    "\n"
    "  This Modul is usefull to count Impulse \n"
    " and switch other modules by the Output <RESETpulse>. \n"
    " Inputs named with up.. react when the level comes from\n"
    " under 3.33 Volts and go over or equal to it, \n"
    "  so they are triggered by up-going-flankes. \n"
    " <upCOUNT> is one, that adds each time the \n"
    " level of <bySTEP> to the <OUTclimb>. \n"
    " When the added summary <OUTclimb> reaches\n"
    " the level given from <reset@> \n"
    " then a short 5 Volts impulse is at <RESETpulse> \n"
    " and the <OUTclimb> starts with 0 Volt again. \n"
    " Also <upZERO> is giving a 0 Volts to\n"
    " the <OUTclimb> , but without pulse at <RESETpulse> \n"
    "\n"
    "\n"
    "  by Tarn Ovelle Jan2007  \n"
    " \n"
    "  enjoy MODVARA !!! \n"
    " * * * * * * * * * * *";

}  // namespace

const LibraryModule libraryModule = {"countRESET1", "Tarns Add StepRESET1", kAboutText,
                                     createModule<CountResetModule>};

}  // namespace mv
