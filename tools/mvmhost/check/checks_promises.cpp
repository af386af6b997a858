// Checks of what a host keeps relying on after a call has returned: texts that stay valid
// while the library is loaded, the answers of the opcodes with an operation, and the record's
// words that never change or hold what the last opcode sent.
#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/module_info.h"
#include "host/plug_info.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/contract/sample_values.h"

namespace mvmhost {
namespace {

constexpr size_t kTextLimit = 1 << 16;
constexpr int32_t kMaxDescriptions = 4096;
constexpr int32_t kOddBlockSizes[] = {0, -1, INT32_MAX};
constexpr float kOddSampleRates[] = {0.0f, -1.0f, std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN()};

// A text the module handed over, its address and what it read then.
struct HandedText {
    std::string what;
    const char* text;
    std::string value;
};

void keep(std::vector<HandedText>& kept, std::string what, const char* text) {
    if (!text) return;
    std::string value;
    if (!readText(text, kTextLimit, value)) fail("the " + what + " has no terminating zero");
    kept.push_back({std::move(what), text, std::move(value)});
}

// Every text of one instance's descriptions, through opcode 6 as a host asks for them.
void keepDescriptionTexts(mv::ModuleRecord* record, std::vector<HandedText>& kept,
                          const std::string& whose) {
    for (int32_t d = 0; d < kMaxDescriptions; ++d) {
        mv::PlugInfo info{};
        if (dispatch(record, mv::OpGetPlugProperties, d, 0, &info) == 0) return;
        const std::string what = "description " + std::to_string(d) + "'s ";
        keep(kept, what + "name (" + whose + ")", info.name);
        keep(kept, what + "default text (" + whose + ")", info.defaultValue);
        keep(kept, what + "list text (" + whose + ")", info.listText);
    }
}

void keepIdentityTexts(const CheckContext& c, std::vector<HandedText>& kept) {
    mv::ModuleInfo info{};
    if (c.entries.getModuleProperties(mv::kModuleIndex, &info) != 1)
        fail("getModuleProperties(0) did not answer 1");
    keep(kept, "identifier", info.identifier);
    keep(kept, "name", info.name);
    keep(kept, "about text", info.aboutText);
}

// The texts at the addresses handed over must still read what they read then.
void stillTheSame(const std::vector<HandedText>& kept, const std::string& after) {
    for (const HandedText& k : kept) {
        std::string now;
        if (!readText(k.text, kTextLimit, now) || now != k.value)
            fail("the " + k.what + " read \"" + k.value.substr(0, 40) +
                 "\" when handed over and \"" + now.substr(0, 40) + "\" " + after +
                 ": a text handed to the host must stay while the library is loaded");
    }
}

// The record's words that never change after makeModule.
struct FixedWords {
    uint32_t magic;
    int32_t version;
    intptr_t hostHandle;
    void* instance;
    int32_t reserved0;
    mv::DispatcherEntry dispatcherEntry;
    mv::EventEntry eventEntry;
    int32_t reserved[4];

    explicit FixedWords(const mv::ModuleRecord& r)
        : magic(r.magic),
          version(r.version),
          hostHandle(r.hostHandle),
          instance(r.instance),
          reserved0(r.reserved0),
          dispatcherEntry(r.dispatcherEntry),
          eventEntry(r.eventEntry),
          reserved{} {
        std::memcpy(reserved, r.reserved, sizeof reserved);
    }
    // Names the first word that differs; empty when none does.
    std::string differences(const FixedWords& o) const {
        if (magic != o.magic) return "magic";
        if (version != o.version) return "version";
        if (hostHandle != o.hostHandle) return "hostHandle";
        if (instance != o.instance) return "instance";
        if (reserved0 != o.reserved0) return "reserved word at offset 16";
        if (dispatcherEntry != o.dispatcherEntry) return "dispatcherEntry";
        if (eventEntry != o.eventEntry) return "eventEntry";
        if (std::memcmp(reserved, o.reserved, sizeof reserved) != 0)
            return "four reserved words after eventEntry";
        return {};
    }
};

// The sample rate and block size the record carries right after its own fields.
float recordRate(const mv::ModuleRecord* r) {
    float rate;
    std::memcpy(&rate, reinterpret_cast<const char*>(r) + sizeof(mv::ModuleRecord), sizeof rate);
    return rate;
}
int32_t recordBlockSize(const mv::ModuleRecord* r) {
    int32_t size;
    std::memcpy(&size, reinterpret_cast<const char*>(r) + sizeof(mv::ModuleRecord) + sizeof(float),
                sizeof size);
    return size;
}

}  // namespace

Outcome textsStayValid(CheckContext& c) {
    std::vector<HandedText> kept;
    keepIdentityTexts(c, kept);
    mv::ModuleRecord* first =
        c.entries.makeModule(mv::kModuleIndex, mv::KindModule, QuietHost::callback, 1);
    if (!first) return fail("makeModule(0, 1) answered null");
    {
        RecordCloser closer{first};
        keepDescriptionTexts(first, kept, "first instance");
        stillTheSame(kept, "once every plug was described");
        Rig rig(c, c.seed);
        rig.beginBlock();
        rig.process(0, c.blockSize);
        for (int32_t p : inputPlugs(rig.host)) rig.changeStreamState(p, mv::Streaming, rig.clock());
        keepDescriptionTexts(rig.host.record(), kept, "second instance");
        keepIdentityTexts(c, kept);
    }
    stillTheSame(kept, "after the instances that described them were closed");
    {
        HostedModule again(c.entries, HostSettings{});
        stillTheSame(kept, "once another instance was made and described");
    }
    return pass(std::to_string(kept.size()) +
                " texts read the same after describing, opening, processing and closing");
}

Outcome opcodeAnswers(CheckContext& c) {
    HostedModule host(c.entries, HostSettings{HostSettings{}.sampleRate, c.blockSize});
    float scratch[4] = {};
    struct Call {
        int32_t opcode, index, value;
        void* ptr;
        float opt;
    } const calls[] = {{mv::OpSetSampleRate, 0, 0, nullptr, 48000.0f},
                       {mv::OpSetSampleRate, 0, 0, nullptr, host.sampleRate()},
                       {mv::OpSetBlockSize, 0, c.blockSize, nullptr, 0.0f},
                       {mv::OpNotify, 0, 0, nullptr, 0.0f},
                       {mv::OpNotify, 3, 0, nullptr, 0.0f},
                       {mv::OpNotify, -5, 0, nullptr, 0.0f},
                       {mv::OpCommand, 1, 2, scratch, 0.0f},
                       {mv::OpCommand, 0, 0, nullptr, 0.0f}};
    auto answerAll = [&](const std::string& when) {
        for (const Call& call : calls) {
            const intptr_t answer =
                dispatch(host.record(), call.opcode, call.index, call.value, call.ptr, call.opt);
            if (answer != 0)
                fail("opcode " + std::to_string(call.opcode) + " (index " +
                     std::to_string(call.index) + ", value " + std::to_string(call.value) + ") " +
                     when + " answered " + showWord(answer) + ", not 0");
        }
        if (dispatch(host.record(), mv::OpGetProcessBindingInfo) == 0)
            fail("opcode 13 " + when + " answered null");
    };
    answerAll("before open");
    const intptr_t opened = host.open();
    if (opened != 0) return fail("opcode 0 (open) answered " + showWord(opened) + ", not 0");
    answerAll("after open");
    host.beginBlock(0);
    host.process(0, c.blockSize);
    answerAll("while running");
    return pass(
        "opcodes 0, 2, 3, 8 and 12 answer 0 and 13 its record, before open, after it and while "
        "running");
}

Outcome recordWords(CheckContext& c) {
    HostedModule host(c.entries, HostSettings{HostSettings{}.sampleRate, c.blockSize});
    mv::ModuleRecord* record = host.record();
    FixedWords built(*record);
    float rate = host.sampleRate();
    int32_t size = c.blockSize;
    auto look = [&](const std::string& after) {
        const std::string changed = FixedWords(*record).differences(built);
        if (!changed.empty())
            fail("the record's " + changed + " changed " + after +
                 "; it never changes after makeModule");
        if (std::memcmp(&rate, reinterpret_cast<const char*>(record) + sizeof(mv::ModuleRecord),
                        sizeof rate) != 0)
            fail("the record holds the sample rate " + showSample(recordRate(record)) + " " +
                 after + "; opcode 2 last sent " + showSample(rate));
        if (recordBlockSize(record) != size)
            fail("the record holds the block size " + std::to_string(recordBlockSize(record)) +
                 " " + after + "; opcode 3 last sent " + std::to_string(size));
    };
    look("after makeModule and opcodes 2 and 3");
    host.open();
    look("after open");
    Random random(c.seed);
    const std::vector<int32_t> inputs = inputPlugs(host);
    const float rates[] = {48000.0f, 22050.5f, 96000.0f, 44100.0f};
    for (int32_t b = 0; b < c.blocks(); ++b) {
        host.beginBlock(b * c.blockSize);
        for (int32_t p : inputs)
            if (host.plugs()[static_cast<size_t>(p)].isSignal())
                fillSignal(random, host.buffer(p), c.blockSize);
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            host.process(start, n);
            look("after a call for " + std::to_string(n) + " samples at offset " +
                 std::to_string(start));
            start += n;
            if (!inputs.empty() && random.chance(20)) {
                host.changeStreamState(inputs[random.below(static_cast<uint32_t>(inputs.size()))],
                                       static_cast<mv::StreamState>(random.below(3)),
                                       b * c.blockSize + start);
                look("after a stream-state change");
            }
        }
        rate = rates[static_cast<size_t>(b) % (sizeof rates / sizeof *rates)];
        dispatch(record, mv::OpSetSampleRate, 0, 0, nullptr, rate);
        dispatch(record, mv::OpSetBlockSize, 0, size);
        dispatch(record, mv::OpNotify, 1);
        dispatch(record, mv::OpCommand, 0, 0);
        dispatch(record, mv::OpGetProcessBindingInfo);
        look("after opcodes 2, 3, 8, 12 and 13");
    }
    const std::string kept =
        "the record's fixed words kept, and its sample rate and block size what opcodes 2 and 3 "
        "sent, over " +
        std::to_string(c.blocks()) + " blocks";
    if (!c.strict) return pass(kept);

    // Values no careful host sends, but one setting up a patch might: they stand in the record
    // as sent, and once ordinary ones follow, ordinary inputs give no NaN. A fresh instance,
    // fed nothing but ordinary inputs.
    HostedModule fresh(c.entries, HostSettings{HostSettings{}.sampleRate, c.blockSize});
    record = fresh.record();
    built = FixedWords(*record);
    rate = fresh.sampleRate();
    size = c.blockSize;
    fresh.open();
    std::vector<int32_t> outputs;
    for (const HostPlug& plug : fresh.plugs())
        if (plug.isOutput() && plug.isSignal()) outputs.push_back(plug.index);
    std::string nan;
    int32_t clock = 0;
    auto block = [&](const std::string& after, bool judged) {
        fresh.beginBlock(clock);
        for (int32_t p : inputs)
            if (fresh.plugs()[static_cast<size_t>(p)].isSignal())
                fillOrdinary(random, fresh.buffer(p), c.blockSize);
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            within(after, [&] { fresh.process(start, n); });
            start += n;
        }
        clock += c.blockSize;
        for (int32_t p : outputs) {
            int32_t at = 0;
            if (judged && nan.empty() &&
                worstSample(fresh.buffer(p), c.blockSize, &at) == ValueHazard::NaN)
                nan = fresh.plugs()[static_cast<size_t>(p)].name + " sample " + std::to_string(at) +
                      " is NaN from ordinary inputs " + after;
        }
    };
    block("after open", true);
    const float ordinaryRate = fresh.sampleRate();
    for (const int32_t odd : kOddBlockSizes) {
        size = odd;
        dispatch(record, mv::OpSetBlockSize, 0, size);
        const std::string sent = "after opcode 3 sent " + std::to_string(odd);
        look(sent);
        size = c.blockSize;
        dispatch(record, mv::OpSetBlockSize, 0, size);
        block(sent + " and then " + std::to_string(size), true);
    }
    for (const float odd : kOddSampleRates) {
        rate = odd;
        dispatch(record, mv::OpSetSampleRate, 0, 0, nullptr, rate);
        const std::string sent = "after opcode 2 sent " + showSample(odd);
        look(sent);
        block(sent, false);
        rate = ordinaryRate;
        dispatch(record, mv::OpSetSampleRate, 0, 0, nullptr, rate);
        block(sent + " and then " + showSample(rate), true);
    }
    if (!nan.empty()) return warn(nan);
    return pass(kept + ", and block sizes 0, -1, 2^31-1 and rates 0, -1, inf and NaN as sent");
}

Outcome requestPlugs(CheckContext& c) {
    int32_t described;
    {
        HostedModule probe(c.entries, HostSettings{});
        described = static_cast<int32_t>(probe.plugs().size());
    }
    // As many plugs as described, fewer (a host may make fewer: a module sizing anything by
    // its own descriptions names plugs that do not exist), and more.
    std::vector<int32_t> counts = {described, described - 1, described / 2, described + 3};
    counts.erase(std::remove_if(counts.begin(), counts.end(), [](int32_t n) { return n < 1; }),
                 counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    Random random(c.seed);
    uint64_t looked = 0;
    for (int32_t count : counts) {
        Rig rig(c, c.seed, count);
        const std::vector<int32_t> inputs = inputPlugs(rig.host);
        const int32_t blocks = count == described ? c.blocks() : 2;
        for (int32_t b = 0; b < blocks; ++b) {
            rig.beginBlock();
            int32_t start = 0;
            for (int32_t n : randomSplit(random, c.blockSize)) {
                if (!inputs.empty() && random.chance(20) && start < c.blockSize)
                    rig.changeStreamState(
                        inputs[random.below(static_cast<uint32_t>(inputs.size()))],
                        static_cast<mv::StreamState>(random.below(3)), rig.blockStart() + start);
                rig.process(start, n);
                start += n;
            }
        }
        const std::string with = count == described
                                     ? std::string()
                                     : " (the host made " + std::to_string(count) + " of the " +
                                           std::to_string(described) + " plugs described)";
        for (const LoggedRequest& r : rig.host.log()) {
            const std::string stray = strayPlug(r, count);
            if (!stray.empty()) return fail(stray + with);
        }
        if (rig.host.droppedLogEntries() > 0)
            return warn("the module made more requests than the host keeps; not all looked at" +
                        with);
        looked += rig.host.log().size();
    }
    return pass("with " + std::to_string(counts.size()) +
                " plug counts, every request naming a plug (0, 1, 4, 7, 8) names one the host "
                "made, " +
                std::to_string(looked) + " looked at");
}

Outcome pointersBeforeOpen(CheckContext& c) {
    HostedModule host(c.entries, HostSettings{HostSettings{}.sampleRate, c.blockSize});
    // Opcode 6 has told the host where each buffer pointer goes; it writes them now.
    host.beginBlock(0);
    host.open();
    int kept = 0;
    for (const HostPlug& plug : host.plugs()) {
        if (!plug.isSignal() || !plug.variable) continue;
        const float* written = host.buffer(plug.index);
        const float* now = nullptr;
        std::memcpy(&now, plug.variable, sizeof now);
        if (now != written)
            return fail("open changed " + plug.name + "'s buffer pointer from " +
                        showWord(reinterpret_cast<intptr_t>(written)) + " to " +
                        showWord(reinterpret_cast<intptr_t>(now)) +
                        ", which the host wrote after opcode 6 described the plug and before "
                        "opcode 0");
        ++kept;
    }
    if (kept == 0) return skip("the module gives no Signal plug a variable");
    return pass(std::to_string(kept) +
                " buffer pointers written before open are still there after it");
}

}  // namespace mvmhost
