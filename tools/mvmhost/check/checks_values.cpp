// What a module answers to ordinary inputs: never NaN, and no denormals.
#include <string>
#include <vector>

#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/contract/sample_values.h"
#include "tools/mvmhost/runtime/list_text.h"

namespace mvmhost {
namespace {

constexpr uint64_t kValueSalt = 0x0DD5A3D1E5ull;
constexpr int32_t kListValuesTried = 64;  // of a long list, its first values

struct ListPlug {
    int32_t plug;
    std::vector<int16_t> values;
};

std::vector<ListPlug> listPlugs(const HostedModule& host) {
    std::vector<ListPlug> lists;
    for (const HostPlug& plug : host.plugs()) {
        if (!plug.isList() || !plug.isInput() || !plug.variable || !plug.description ||
            !plug.description->listText)
            continue;
        const ListText list(*plug.description->listText);
        ListPlug entry{plug.index, {}};
        for (int32_t v = 0; v < kListValuesTried; ++v)
            if (list.labelOf(v)) entry.values.push_back(static_cast<int16_t>(v));
        if (!entry.values.empty()) lists.push_back(std::move(entry));
    }
    return lists;
}

// The inputs at one sample, for a reason: "in = -0.25 (Streaming), mode = 0".
std::string inputsAt(const Rig& rig, const std::vector<int32_t>& states,
                     const std::vector<ListPlug>& lists, const std::vector<int16_t>& chosen,
                     int32_t sample) {
    static const char* const kStates[] = {"Static", "SingleChange", "Streaming"};
    std::string text;
    for (size_t k = 0; k < rig.inputs().size(); ++k) {
        const int32_t p = rig.inputs()[k];
        text += (text.empty() ? "" : ", ") + rig.plugName(p) + " = " +
                showSample(rig.host.buffer(p)[sample]) + " (" + kStates[states[k]] + ")";
    }
    for (size_t k = 0; k < lists.size(); ++k)
        text += (text.empty() ? "" : ", ") + rig.plugName(lists[k].plug) + " = " +
                std::to_string(chosen[k]);
    return text.empty() ? "no inputs" : text;
}

}  // namespace

Outcome outputValues(CheckContext& c) {
    Rig rig(c, c.seed);
    if (rig.outputs().empty()) return skip("the module has no Signal output to look at");
    Random random(c.seed ^ kValueSalt);
    const std::vector<int32_t>& inputs = rig.inputs();
    const std::vector<ListPlug> lists = listPlugs(rig.host);
    std::vector<int32_t> states(inputs.size(), mv::Static);
    std::vector<float> held(inputs.size(), 0.0f);
    std::vector<int16_t> chosen;
    for (const ListPlug& list : lists)
        chosen.push_back(
            defaultListValue(*rig.host.plugs()[static_cast<size_t>(list.plug)].description));
    std::string denormal;
    const int32_t blocks = c.strict ? 96 : 16;
    for (int32_t b = 0; b < blocks; ++b) {
        rig.beginBlock();
        // Each input streams, holds what it held, or steps to a new level it then holds; the
        // host says so at the block's first sample, as it promises.
        for (size_t k = 0; k < inputs.size(); ++k) {
            float* samples = rig.host.buffer(inputs[k]);
            const uint32_t kind = random.below(3);
            int32_t next = mv::Static;
            if (kind == 0) {
                fillOrdinary(random, samples, c.blockSize);
                next = mv::Streaming;
            } else {
                const float level = kind == 1           ? held[k]
                                    : random.chance(40) ? 0.0f
                                                        : ordinaryValue(random);
                std::fill_n(samples, c.blockSize, level);
                if (states[k] == mv::Static && level != held[k]) next = mv::SingleChange;
                held[k] = level;
            }
            if (next != mv::Static || states[k] != mv::Static)
                rig.changeStreamState(inputs[k], static_cast<mv::StreamState>(next),
                                      rig.blockStart());
            states[k] = next == mv::Streaming ? mv::Streaming : mv::Static;
            if (next == mv::Streaming) held[k] = samples[c.blockSize - 1];
        }
        for (size_t k = 0; k < lists.size(); ++k) {
            if (!random.chance(30)) continue;
            chosen[k] =
                lists[k].values[random.below(static_cast<uint32_t>(lists[k].values.size()))];
            rig.host.setListValue(lists[k].plug, chosen[k]);
            rig.changeStreamState(lists[k].plug, mv::SingleChange, rig.blockStart());
        }
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            within("in block " + std::to_string(b), [&] { rig.process(start, n); });
            for (int32_t p : rig.outputs()) {
                int32_t at = 0;
                const ValueHazard hazard = worstSample(rig.host.buffer(p) + start, n, &at);
                if (hazard == ValueHazard::None) continue;
                const int32_t sample = start + at;
                const std::string what =
                    rig.plugName(p) + " sample " + std::to_string(sample) + " (clock " +
                    std::to_string(rig.blockStart() + sample) + ") is " +
                    showSample(rig.host.buffer(p)[sample]) +
                    ", from ordinary inputs: " + inputsAt(rig, states, lists, chosen, sample);
                if (hazard == ValueHazard::NaN) return fail("answered NaN: " + what);
                if (denormal.empty()) denormal = what;
            }
            start += n;
        }
    }
    const std::string fed =
        std::to_string(blocks) + " blocks of ordinary inputs (0 and magnitudes 2^-20 to 16)";
    if (!denormal.empty()) {
        const std::string reason =
            "answered a denormal, which slows many processors down: " + denormal;
        return c.strict ? fail(reason) : warn(reason);
    }
    return pass(fed + ": no NaN and no denormal out");
}

}  // namespace mvmhost
