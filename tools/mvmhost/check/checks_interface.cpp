// Checks of what a host sees before any sample flows: identity, creation, the dispatcher's
// answers and the plug descriptions.
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/module_info.h"
#include "host/plug_info.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/alloc_hooks.h"
#include "tools/mvmhost/runtime/hosted_module.h"

namespace mvmhost {
namespace {

constexpr size_t kTextLimit = 1 << 16;  // longer than any identity text a host shows

// A host record with guard bytes on both sides, to catch writes beside it.
template <class Record>
struct Guarded {
    unsigned char before[16];
    Record record;
    unsigned char after[16];

    Guarded() { fillSentinel(this, sizeof *this); }
    bool sidesIntact() const {
        return isSentinel(before, sizeof before) && isSentinel(after, sizeof after);
    }
};

// --- identity ------------------------------------------------------------------------------

}  // namespace

Outcome identityIndexZero(CheckContext& c) {
    Guarded<mv::ModuleInfo> g;
    const int32_t answer = c.entries.getModuleProperties(0, &g.record);
    if (answer != 1)
        return fail("getModuleProperties(0) answered " + std::to_string(answer) + ", not 1");
    if (!g.sidesIntact()) return fail("getModuleProperties(0) wrote outside the ModuleInfo record");
    if (!isSentinel(g.record.hostBytes, sizeof g.record.hostBytes))
        return fail("getModuleProperties(0) wrote into the host's own bytes of ModuleInfo");
    const int32_t sentinelWord = static_cast<int32_t>(0xA5A5A5A5u);
    if (g.record.frameworkVersion == sentinelWord)
        return fail("getModuleProperties(0) left frameworkVersion unwritten");
    struct Field {
        const char* what;
        const char* text;
        std::string value;
    } fields[] = {{"identifier", g.record.identifier, {}},
                  {"name", g.record.name, {}},
                  {"about text", g.record.aboutText, {}}};
    for (Field& f : fields) {
        if (!f.text) return fail("the " + std::string(f.what) + " is null");
        if (!readText(f.text, kTextLimit, f.value))
            return fail("the " + std::string(f.what) + " has no terminating zero within " +
                        std::to_string(kTextLimit) + " bytes");
        if (f.value.empty()) return fail("the " + std::string(f.what) + " is empty");
    }
    mv::ModuleInfo again{};
    if (c.entries.getModuleProperties(0, &again) != 1 || again.identifier != g.record.identifier ||
        again.name != g.record.name || again.aboutText != g.record.aboutText ||
        again.frameworkVersion != g.record.frameworkVersion)
        return fail("a second getModuleProperties(0) answered differently from the first");
    return pass("answers 1: \"" + fields[0].value + "\" (\"" + fields[1].value + "\"), framework " +
                std::to_string(g.record.frameworkVersion));
}

Outcome identityOtherIndices(CheckContext& c) {
    mv::ModuleInfo first{};
    c.entries.getModuleProperties(0, &first);
    for (int32_t index : {1, 2, -1, 100, INT32_MAX, INT32_MIN}) {
        Guarded<mv::ModuleInfo> g, untouched;
        const int32_t answer = c.entries.getModuleProperties(index, &g.record);
        const std::string call = "getModuleProperties(" + std::to_string(index) + ")";
        if (answer != 0) return fail(call + " answered " + std::to_string(answer) + ", not 0");
        const int32_t version = g.record.frameworkVersion;
        g.record.frameworkVersion = untouched.record.frameworkVersion;
        if (std::memcmp(&g, &untouched, sizeof g) != 0)
            return fail(call + " wrote more than the framework version");
        // A host reads the version before it knows whether the index names a module.
        if (version == untouched.record.frameworkVersion)
            return fail(call + " left frameworkVersion unwritten; it is written for every index");
        if (version != first.frameworkVersion)
            return fail(call + " wrote framework version " + std::to_string(version) +
                        ", index 0 gives " + std::to_string(first.frameworkVersion));
    }
    return pass(
        "indices 1, 2, -1, 100 and the extremes answer 0 and write the version, and only it");
}

namespace {

// --- creation ------------------------------------------------------------------------------

}  // namespace

Outcome makeModuleRefusals(CheckContext& c) {
    const struct {
        int32_t index, kind;
    } calls[] = {{1, 1}, {-1, 1}, {2, 1},  {INT32_MAX, 1}, {INT32_MIN, 1},
                 {0, 0}, {0, 2},  {0, -1}, {0, INT32_MAX}, {0, INT32_MIN}};
    for (const auto& call : calls) {
        const std::string name =
            "makeModule(" + std::to_string(call.index) + ", " + std::to_string(call.kind) + ")";
        QuietHost::calls = 0;
        AllocationWatch watch;
        mv::ModuleRecord* record =
            c.entries.makeModule(call.index, call.kind, QuietHost::callback, 1);
        const AllocationCount allocated = watch.count();
        if (record) {
            if (record->magic == mv::kModuleMagic && record->dispatcherEntry)
                dispatch(record, mv::OpClose);
            return fail(name + " made an instance; only index 0 and kind 1 do");
        }
        if (QuietHost::calls != 0) return fail(name + " called the host");
        if (allocationHooksAvailable() && allocated.allocations > allocated.releases)
            return fail(name + " kept " +
                        std::to_string(allocated.allocations - allocated.releases) +
                        " heap blocks although it made nothing");
    }
    return pass("other indices and kinds answer null without asking the host");
}

Outcome makeModuleRecords(CheckContext& c) {
    const intptr_t handles[2] = {0x1234, static_cast<intptr_t>(0x7EADBEEF)};
    mv::ModuleRecord* records[2] = {};
    for (int i = 0; i < 2; ++i)
        records[i] =
            c.entries.makeModule(mv::kModuleIndex, mv::KindModule, QuietHost::callback, handles[i]);
    std::string problem, remark;
    for (int i = 0; i < 2 && problem.empty(); ++i) {
        const mv::ModuleRecord* r = records[i];
        const std::string which = i == 0 ? "the first record" : "the second record";
        if (!r)
            problem = "makeModule(0, 1) answered null";
        else if (r->magic != mv::kModuleMagic)
            problem = which + " has magic " + showWord(r->magic) + ", not MVPL";
        else if (r->version != mv::kModuleRecordVersion)
            problem = which + " has version " + std::to_string(r->version) + ", not 1";
        else if (r->hostHandle != handles[i])
            problem = which + " holds host handle " + showWord(r->hostHandle) + " instead of " +
                      showWord(handles[i]);
        else if (!r->instance)
            problem = which + " has a null instance";
        else if (!r->dispatcherEntry || !r->processEntry || !r->eventEntry)
            problem = which + " has a null entry";
        else if (r->reserved0 != 0 || r->reserved[0] || r->reserved[1] || r->reserved[2] ||
                 r->reserved[3])
            remark =
                remark.empty() ? which + "'s reserved words are not 0 after makeModule" : remark;
    }
    if (problem.empty() &&
        (records[0] == records[1] || records[0]->instance == records[1]->instance))
        problem = "two instances share a record or an instance";
    for (mv::ModuleRecord* r : records) {
        if (!r || r->magic != mv::kModuleMagic || !r->dispatcherEntry) continue;
        const intptr_t closed = dispatch(r, mv::OpClose);
        if (problem.empty() && closed != 1)
            problem = "opcode 1 answered " + showWord(closed) + ", not 1";
    }
    if (!problem.empty()) return fail(problem);
    if (!remark.empty()) return c.strict ? fail(remark) : warn(remark);
    return pass("each instance has its own well-formed record; opcode 1 answers 1");
}

namespace {

// A host that names each request it is asked, for a reason that says what came.
struct NamingHost {
    static inline uint64_t calls = 0;
    static inline int32_t first = 0;
    static intptr_t MV_CDECL callback(void*, int32_t request, int32_t, int32_t, void*,
                                      float) noexcept {
        if (calls++ == 0) first = request;
        return 0;
    }
};

}  // namespace

Outcome makeModuleRequests(CheckContext& c) {
    for (int i = 0; i < 2; ++i) {
        NamingHost::calls = 0;
        mv::ModuleRecord* record =
            c.entries.makeModule(mv::kModuleIndex, mv::KindModule, NamingHost::callback, 1);
        if (!record) return fail("makeModule(0, 1) answered null");
        const uint64_t calls = NamingHost::calls;
        const int32_t first = NamingHost::first;
        if (record->magic == mv::kModuleMagic && record->dispatcherEntry)
            dispatch(record, mv::OpClose);
        if (calls != 0)
            return fail("makeModule made " + std::to_string(calls) + " host request" +
                        (calls == 1 ? "" : "s") + ", request " + std::to_string(first) +
                        " first: a host answers none before it has the record makeModule "
                        "returns");
    }
    return pass("makeModule makes no host request");
}

namespace {}  // namespace

Outcome unknownOpcodes(CheckContext& c) {
    std::vector<int32_t> opcodes(std::begin(kUnknownOpcodes), std::end(kUnknownOpcodes));
    Random random(c.seed);
    while (opcodes.size() < (c.strict ? 2000u : 60u)) {
        const auto opcode = static_cast<int32_t>(random.next());
        if (!hasOperation(opcode)) opcodes.push_back(opcode);
    }
    HostedModule host(c.entries, HostSettings{});
    for (int round = 0; round < 2; ++round) {
        if (round == 1) host.open();
        mv::ModuleRecord* record = host.record();
        const Untouched before(host);
        for (int32_t opcode : opcodes) {
            unsigned char scratch[64];
            fillSentinel(scratch, sizeof scratch);
            const intptr_t answer = dispatch(record, opcode, static_cast<int32_t>(random.next()),
                                             static_cast<int32_t>(random.next()), scratch, 3.5f);
            const std::string when = round == 0 ? " before open" : " after open";
            if (answer != 0)
                return fail("opcode " + std::to_string(opcode) + when + " answered " +
                            showWord(answer) + ", not 0");
            if (!isSentinel(scratch, sizeof scratch))
                return fail("opcode " + std::to_string(opcode) + when +
                            " wrote into the memory at ptr");
            const std::string changed = before.changed(host);
            if (!changed.empty())
                return fail("opcode " + std::to_string(opcode) + when + " " + changed);
        }
    }
    // While running, with small arguments such as a real operation takes: the output and the
    // announcements after them show what they left in the instance.
    const int sent =
        comparePoked(c, "opcodes without an operation", [&](Rig& rig, Random& random, int32_t) {
            const int32_t opcode = opcodes[random.below(static_cast<uint32_t>(opcodes.size()))];
            unsigned char scratch[64];
            fillSentinel(scratch, sizeof scratch);
            const intptr_t answer = dispatch(
                rig.host.record(), opcode, static_cast<int32_t>(random.below(8)),
                static_cast<int32_t>(random.below(8)), scratch, random.uniform(0.0f, 2.0f));
            const std::string which = "opcode " + std::to_string(opcode) + " while running";
            if (answer != 0) return which + " answered " + showWord(answer) + ", not 0";
            if (!isSentinel(scratch, sizeof scratch))
                return which + " wrote into the memory at ptr";
            return std::string();
        });
    return pass(std::to_string(opcodes.size()) + " opcodes without an operation, and " +
                std::to_string(sent) +
                " while running, answer 0 and change no request, record, output or announcement");
}

namespace {}  // namespace

Outcome processBindingInfo(CheckContext& c) {
    HostedModule a(c.entries, HostSettings{}), b(c.entries, HostSettings{});
    const mv::ProcessBinding *ba = nullptr, *bb = nullptr;
    for (int round = 0; round < 2; ++round) {
        const std::string when = round == 0 ? " before open" : " after open";
        if (round == 1) {
            a.open();
            b.open();
        }
        const uint64_t requests = totalRequests(a) + totalRequests(b);
        ba = readProcessBinding(a.record(), "the first instance" + when);
        bb = readProcessBinding(b.record(), "the second instance" + when);
        if (ba == bb) return fail("two instances" + when + " are given the same ProcessBinding");
        if (totalRequests(a) + totalRequests(b) != requests)
            return fail("opcode 13 made a host request");
    }
    return pass("a well-formed ProcessBindingInfo whose routine is each instance's processEntry");
}

namespace {

// Where the process entry stands after `when`: a host reads it only inside request 22, so
// the record must hold what it read there.
void checkToldEntry(const HostedModule& host, uint64_t toldBefore, const std::string& when) {
    if (host.record()->processEntry == host.toldProcessEntry()) return;
    if (host.requestCount(mv::hostProcessRoutineChanged) == toldBefore)
        fail("rewrote processEntry " + when + " without telling the host (request 22)");
    fail("told the host (request 22) " + when +
         " before rewriting processEntry: a host reading it there calls "
         "the old routine");
}

}  // namespace

Outcome processEntryOrder(CheckContext& c) {
    const mv::ProcessRoutine made = [&] {
        HostedModule fresh(c.entries, HostSettings{});
        return fresh.record()->processEntry;
    }();
    Rig rig(c, c.seed);
    checkToldEntry(rig.host, 0, "while opening");
    Random random(c.seed ^ 0x22u);
    const std::vector<int32_t> inputs = inputPlugs(rig.host);
    int switches = rig.host.record()->processEntry != made ? 1 : 0;
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            mv::ProcessRoutine before = rig.host.record()->processEntry;
            uint64_t told = rig.host.requestCount(mv::hostProcessRoutineChanged);
            if (!inputs.empty() && random.chance(30)) {
                const int32_t p = inputs[random.below(static_cast<uint32_t>(inputs.size()))];
                const auto state = static_cast<mv::StreamState>(random.below(3));
                rig.changeStreamState(p, state, rig.blockStart() + start);
                checkToldEntry(
                    rig.host, told,
                    "in the handler of " + rig.plugName(p) + " becoming " + std::to_string(state));
                switches += rig.host.record()->processEntry != before ? 1 : 0;
                before = rig.host.record()->processEntry;
                told = rig.host.requestCount(mv::hostProcessRoutineChanged);
            }
            rig.process(start, n);
            checkToldEntry(rig.host, told, "in the process entry");
            switches += rig.host.record()->processEntry != before ? 1 : 0;
            start += n;
        }
    }
    return pass(std::to_string(switches) +
                " changes of the process entry, each made before request 22 told the host");
}

namespace {

// --- plug descriptions ---------------------------------------------------------------------

constexpr int32_t kMaxDescriptions = 4096;

bool knownDatatype(int32_t code) { return code >= 0 && code <= 8; }

// The description the module wrote into a cleared record must be well formed.
void checkDescription(int32_t d, const mv::PlugInfo& info, std::string& name, std::string& remark) {
    const std::string which = "description " + std::to_string(d);
    if (!info.name) fail(which + " has no name");
    if (!readText(info.name, 256, name))
        fail(which + "'s name has no terminating zero within 256 bytes");
    if (name.empty()) fail(which + " has an empty name");
    const std::string plug = which + " (" + name + ")";
    if (info.direction != mv::PlugInput && info.direction != mv::PlugOutput)
        fail(plug + " has direction " + std::to_string(info.direction) + "; 0 input or 1 output");
    if (!knownDatatype(info.datatype))
        fail(plug + " has the unknown datatype " + std::to_string(info.datatype));
    std::string text;
    if (info.defaultValue && !readText(info.defaultValue, 256, text))
        fail(plug + "'s default value has no terminating zero within 256 bytes");
    if (info.datatype == mv::Enumerated && !info.listText)
        fail(plug + " is a list plug without list text");
    if (info.listText && !readText(info.listText, 1 << 20, text))
        fail(plug + "'s list text has no terminating zero within 1 MiB");
    if (info.reserved != 0 && remark.empty()) remark = plug + " writes the reserved word";
    if (info.datatype != mv::Enumerated && info.datatype != mv::Signal && remark.empty())
        remark = plug + " uses the unnamed datatype " + std::to_string(info.datatype);
    const int32_t known = mv::RepeatLast | mv::NotAPlug | mv::CountAsPlug;
    if ((info.flags & ~known) != 0 && remark.empty())
        remark = plug + " sets flag bits no host reads";
}

}  // namespace

Outcome plugDescriptions(CheckContext& c) {
    mv::ModuleRecord* record =
        c.entries.makeModule(mv::kModuleIndex, mv::KindModule, QuietHost::callback, 1);
    if (!record) return fail("makeModule(0, 1) answered null");
    const RecordCloser closer{record};
    QuietHost::calls = 0;  // what makeModule asked is its own check's

    std::vector<std::string> names;
    std::string remark;
    int32_t count = 0;
    for (;; ++count) {
        if (count == kMaxDescriptions)
            return fail("opcode 6 still answers at description " + std::to_string(count));
        Guarded<mv::PlugInfo> g;
        std::memset(&g.record, 0, sizeof g.record);
        const intptr_t answer = dispatch(record, mv::OpGetPlugProperties, count, 0, &g.record);
        if (answer != 0 && answer != 1)
            return fail("opcode 6 answered " + showWord(answer) + " for description " +
                        std::to_string(count) + "; the answers are 0 and 1");
        if (!g.sidesIntact())
            return fail("opcode 6 wrote outside the PlugInfo record at description " +
                        std::to_string(count));
        if (answer == 0) {
            mv::PlugInfo zero{};
            if (std::memcmp(&zero, &g.record, sizeof zero) != 0)
                return fail("opcode 6 answered 0 for description " + std::to_string(count) +
                            " but wrote the record");
            break;
        }
        std::string name;
        checkDescription(count, g.record, name, remark);
        names.push_back(name);
    }
    // Past the last description and at odd indices the answer stays 0 and the host's record
    // keeps exactly what the host put there.
    std::vector<int32_t> beyond = {-1, -2, 1000, INT32_MAX, INT32_MIN, 2 * count + 5};
    for (int32_t d = count; d < count + 8; ++d) beyond.push_back(d);
    for (int32_t d : beyond) {
        Guarded<mv::PlugInfo> g;
        const intptr_t answer = dispatch(record, mv::OpGetPlugProperties, d, 0, &g.record);
        if (answer != 0)
            return fail("opcode 6 answered " + showWord(answer) + " for description " +
                        std::to_string(d) + " after answering 0 for " + std::to_string(count) +
                        ": the descriptions must run from 0 without a gap");
        if (!isSentinel(&g, sizeof g))
            return fail("opcode 6 answered 0 for description " + std::to_string(d) +
                        " but changed the host's record");
    }
    // Asked again over a record full of the host's own bytes, each description answers 1.
    for (int32_t d = 0; d < count; ++d) {
        Guarded<mv::PlugInfo> g;
        if (dispatch(record, mv::OpGetPlugProperties, d, 0, &g.record) != 1)
            return fail("description " + std::to_string(d) +
                        " is not answered the second time it is asked");
    }
    if (QuietHost::calls != 0) return fail("opcode 6 made a host request");
    std::set<std::string> unique(names.begin(), names.end());
    if (unique.size() != names.size() && remark.empty()) remark = "two plugs share a name";
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
    if (!remark.empty()) return warn(remark);
    return pass(std::to_string(count) + " descriptions (" + (list.empty() ? "none" : list) +
                "), answers 0 past them with the record untouched");
}

}  // namespace mvmhost
