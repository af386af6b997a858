#include "modules/mixer/mixer_module.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include "framework/enum_list/enum_list.h"
#include "host/library.h"

namespace mv {
namespace {

// The labels carry the levels: open reads them back through the list reader, so this text
// is the only place they are written down.
const char kLevelList[] = "-inf dB=0,-12 dB=1,-6 dB=2,-3 dB=3,0 dB=4,+3 dB=5,+6 dB=6";

struct Description {
    const char* name;
    PlugDirection direction;
    PlugDatatype datatype;
    const char* defaultValue;
    int32_t flags;
};

// Description 2 is a heading the host may show above the inputs: it takes no plug index, so
// "in" is plug 2. The last description repeats for every further plug the host makes.
const Description kDescriptions[] = {
    {"out", PlugOutput, Signal, nullptr, 0},
    {"level@", PlugInput, Enumerated, "4", 0},
    {"inputs", PlugInput, Signal, nullptr, NotAPlug},
    {"in", PlugInput, Signal, "0", RepeatLast},
};
constexpr int32_t kDescriptionCount = sizeof kDescriptions / sizeof kDescriptions[0];

// A label such as "-6 dB" or "-inf dB" as a gain.
float gainOf(const WideString& label) {
    const std::string text(label.begin(), label.end());
    if (text.rfind("-inf", 0) == 0) return 0.0f;
    return static_cast<float>(std::pow(10.0, std::strtod(text.c_str(), nullptr) / 20.0));
}

}  // namespace

bool MixerModule::getPlugProperties(int32_t index, PlugInfo* info) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kDescriptionCount)) return false;
    void* const variables[kDescriptionCount] = {&outBuffer, &level, nullptr, &inBuffer};
    const Description& d = kDescriptions[index];
    info->variable = variables[index];
    info->direction = d.direction;
    info->datatype = d.datatype;
    info->name = d.name;
    if (d.defaultValue) info->defaultValue = d.defaultValue;
    if (index == MixerLevel) info->listText = kLevelList;
    info->flags = d.flags;
    return true;
}

void MixerModule::open() {
    ModuleBase::open();
    // The reader allocates, so the list is read here, once, and never on the process path.
    EnumListIterator items(widen(kLevelList));
    for (items.first(); !items.done(); items.next()) {
        const EnumListItem& item = items.current();
        if (item.index == 0) fallbackGain = gainOf(item.label);
        if (item.value >= 0 && item.value < kLevels) gains[item.value] = gainOf(item.label);
    }
    level = static_cast<int16_t>(std::atoi(kDescriptions[MixerLevel].defaultValue));
    setProcessRoutine({mix, 0, 0, 0});
}

void MV_CDECL MixerModule::mix(void* instance, int32_t start, int32_t count) {
    auto& m = *static_cast<MixerModule*>(static_cast<ModuleBase*>(instance));
    if (!m.outBuffer || count <= 0) return;
    // Every input's value location holds its buffer: "in"'s variable, the repeated plugs'
    // own storage. Gathered before the first write, since out may be one of them.
    const float* inputs[kMaxInputs];
    int32_t n = 0;
    for (int32_t p = MixerIn; p < m.plugCount() && n < kMaxInputs; ++p) {
        const auto* location = static_cast<float* const*>(m.getPlug(p)->getValue());
        if (location && *location) inputs[n++] = *location + start;
    }
    const float gain = m.muted                             ? 0.0f
                       : m.level >= 0 && m.level < kLevels ? m.gains[m.level]
                                                           : m.fallbackGain;
    float* out = m.outBuffer + start;
    if (gain == 0.0f) {  // silence is 0, whatever the inputs hold (-0, NaN, infinities)
        for (int32_t i = 0; i < count; ++i) out[i] = 0.0f;
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int32_t k = 0; k < n; ++k) sum += inputs[k][i];
        out[i] = sum * gain;
    }
}

void MixerModule::onPlugStateChange(Plug*) { announce(); }

void MixerModule::onDataEvent(int32_t clock, int32_t samples, int16_t) {
    if (samples <= 0) {
        muted = false;
        muteUntil = clock;
    } else {
        const int64_t until = int64_t{clock} + samples;
        muteUntil = until > INT32_MAX ? INT32_MAX : static_cast<int32_t>(until);
        muted = true;
        // The process routine makes no host request: the end of the mute is asked for here.
        scheduleCall(muteUntil, routineOf<MixerModule, &MixerModule::unmute>);
    }
    announce();
}

void MixerModule::unmute() {
    if (!muted || getSampleClock() < muteUntil) return;  // a later mute still runs
    muted = false;
    announce();
}

void MixerModule::announce() {
    Plug* out = getPlug(MixerOut);
    if (!out) return;
    StreamState state = SingleChange;
    for (int32_t p = MixerIn; !muted && p < plugCount() && p < MixerIn + kMaxInputs; ++p)
        if (getPlug(p)->getStreamState() == Streaming) state = Streaming;
    out->setOutputState(getSampleClock(), state);
}

namespace {

const char kAboutText[] =
    "mixer1\n"
    "Sums its inputs onto <out> at the level chosen on <level@>.\n"
    "The host decides how many inputs it has (all named in).\n"
    "A data event mutes <out> for as many samples as its first value.";

}  // namespace

const LibraryModule libraryModule = {"mixer1", "Mixer", kAboutText, createModule<MixerModule>};

}  // namespace mv
