// The host side of one instance: plug numbering, answers to requests, creation failures and
// the process entry it follows, driven through a probe module made by makeModule.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/mvmhost/runtime/probe_module.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/runtime/hosted_module.h"

namespace mvmhost {
namespace {

using test::ProbePlug;

constexpr ProbePlug kIn{"in", mv::PlugInput, mv::Signal};
constexpr ProbePlug kSel{"sel", mv::PlugInput, mv::Enumerated};
constexpr ProbePlug kOut{"out", mv::PlugOutput, mv::Signal};

struct HostedModuleTest : ::testing::Test {
    void SetUp() override {
        test::probeSetup = {};
        test::probeLog.clear();
        test::probeEventValues.clear();
        test::probesDestroyed = 0;
    }
    static mv::ModuleBase& moduleOf(const HostedModule& host) {
        return *static_cast<mv::ModuleBase*>(host.record()->instance);
    }
};

struct PlugNumbering : HostedModuleTest {};

TEST_F(PlugNumbering, HostAndFrameworkAgreeOnEveryPlugIndex) {
    const struct {
        const char* what;
        std::vector<ProbePlug> plugs;
        int32_t plugCount;
        std::vector<std::string> names;
    } rows[] = {
        {"plain", {kIn, kSel, kOut}, -1, {"in", "sel", "out"}},
        {"not a plug", {kIn, {"hidden", 0, mv::Signal, mv::NotAPlug}, kOut}, -1, {"in", "out"}},
        {"counted after all",
         {kIn, {"both", 0, mv::Signal, mv::NotAPlug | mv::CountAsPlug}, kOut},
         -1,
         {"in", "both", "out"}},
        {"last repeated",
         {kIn, kOut, {"more", 0, mv::Signal, mv::RepeatLast}},
         5,
         {"in", "out", "more", "more_3", "more_4"}},
        {"repeat only from the last",
         {{"more", 0, mv::Signal, mv::RepeatLast}, kOut},
         4,
         {"more", "out", "plug2", "plug3"}},
        {"fewer slots than plugs", {kIn, kSel, kOut}, 2, {"in", "sel"}},
        {"no slots", {kIn, kOut}, 0, {}},
        {"signal without variable",
         {{"loose", 0, mv::Signal, 0, false}, kOut},
         -1,
         {"loose", "out"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        test::probeSetup.plugs = row.plugs;
        HostSettings settings;
        settings.plugCount = row.plugCount;
        HostedModule host(test::probeEntries(), settings);
        host.open();
        std::vector<std::string> names;
        for (const HostPlug& plug : host.plugs()) names.push_back(plug.name);
        EXPECT_EQ(names, row.names);

        mv::ModuleBase& module = moduleOf(host);
        ASSERT_EQ(module.plugCount(), static_cast<int32_t>(host.plugs().size()));
        for (const HostPlug& plug : host.plugs()) {
            SCOPED_TRACE(plug.name);
            const mv::Plug* framework = module.getPlug(plug.index);
            if (plug.datatype < 0) {
                EXPECT_EQ(framework->getValue(), nullptr);  // a slot nothing describes
            } else if (plug.variable) {
                EXPECT_EQ(framework->getValue(), plug.variable);
            } else {  // the buffer the module asked for at open must be the host's own
                float* asked;
                std::memcpy(&asked, framework->getValue(), sizeof asked);
                EXPECT_EQ(asked, host.buffer(plug.index));
            }
        }
    }
}

struct Requests : HostedModuleTest {};

TEST_F(Requests, AnsweredOrLoggedWithTheClockTheyCameAt) {
    test::probeSetup.plugs = {kIn, kSel, kOut};
    HostedModule host(test::probeEntries(), HostSettings{});
    host.open();
    host.beginBlock(512);
    mv::ModuleBase& module = moduleOf(host);
    const intptr_t buffer0 = reinterpret_cast<intptr_t>(host.buffer(0));
    const struct {
        int32_t request, index, value;
        intptr_t ptr, answer;
        bool logged;
    } rows[] = {
        {mv::hostGetPlugCount, 0, 0, 0, 3, false},
        {mv::hostGetSampleClock, 0, 0, 0, 512, false},
        {mv::hostGetBlockStartClock, 2, 0, 0, 512, false},
        {mv::hostGetBlockStartClock, 3, 0, 0, 0, true},  // no such plug
        {mv::hostGetPlugValuePointer, 0, 0, 0, buffer0, false},
        {mv::hostGetPlugValuePointer, -1, 0, 0, 0, true},
        {mv::hostSetOutputState, 2, mv::Streaming, 600, 0, true},
        {mv::hostPlugQuery, 1, 0, 0, 0, true},
        {mv::hostPlugNotice, 1, 5, 6, 0, true},
        {99, 1, 2, 3, 0, true},
        {-4, 0, 0, 0, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("request " + std::to_string(row.request) + " index " +
                     std::to_string(row.index));
        const size_t logged = host.log().size();
        EXPECT_EQ(
            module.callHost(row.request, row.index, row.value, reinterpret_cast<void*>(row.ptr)),
            row.answer);
        ASSERT_EQ(host.log().size(), logged + (row.logged ? 1 : 0));
        if (!row.logged) continue;
        const LoggedRequest& entry = host.log().back();
        EXPECT_EQ(entry.clock, 512);
        EXPECT_EQ(entry.request, row.request);
        EXPECT_EQ(entry.index, row.index);
        EXPECT_EQ(entry.value, row.value);
        EXPECT_EQ(entry.ptr, row.ptr);
    }
    EXPECT_EQ(host.announcedState(2), mv::Streaming);
    EXPECT_EQ(host.announcedState(0), -1);
    EXPECT_EQ(host.requestCount(mv::hostGetBlockStartClock), 2u);
    EXPECT_EQ(host.requestCount(99), 2u);  // numbers outside 0 to 31 share one count: 99 and -4
}

TEST_F(Requests, PostedRoutineCallsAreKeptOtherEventsLogged) {
    test::probeSetup.plugs = {kIn};
    HostedModule host(test::probeEntries(), HostSettings{});
    mv::ModuleBase& module = moduleOf(host);
    EXPECT_EQ(module.postEvent(100, mv::DataEvent, 7, 3, 0), 0);
    EXPECT_EQ(host.log().size(), 1u);
    EXPECT_EQ(module.callHost(mv::hostPostEvent), 0);  // no event at all
    int accepted = 0;
    for (int i = 0; i < 70; ++i)
        accepted += static_cast<int>(module.postEvent(200 - i, mv::RoutineCall, 0, 0, 0));
    EXPECT_EQ(accepted, 64);  // the host's queue holds 64; the rest are refused, not lost silently
    EXPECT_EQ(host.log().size(), 2u + 6u);
    EXPECT_EQ(host.nextPostedClock(), 200 - 63);
}

struct Creation : HostedModuleTest {};

TEST_F(Creation, UnusableInstancesFailAndAreClosed) {
    const struct {
        const char* what;
        void (*arrange)(test::ProbeSetup&);
        const char* message;
        int destroyed;
    } rows[] = {
        {"makeModule answers null", [](test::ProbeSetup& s) { s.noInstance = true; },
         "answered null", 0},
        {"opcode 6 answers 2", [](test::ProbeSetup& s) { s.opcode6Answer = 2; }, "answered 2", 1},
        {"descriptions never end", [](test::ProbeSetup& s) { s.describesForever = true; },
         "more than 4096", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        test::probeSetup.plugs = {kIn, kOut};
        row.arrange(test::probeSetup);
        try {
            HostedModule host(test::probeEntries(), HostSettings{});
            ADD_FAILURE() << "no failure";
        } catch (const Error& failure) {
            EXPECT_NE(std::string(failure.what()).find(row.message), std::string::npos)
                << failure.what();
        }
        EXPECT_EQ(test::probesDestroyed, row.destroyed);
    }
}

TEST_F(Creation, TheHostClosesItsInstance) {
    test::probeSetup.plugs = {kIn, kOut};
    { HostedModule host(test::probeEntries(), HostSettings{}); }
    EXPECT_EQ(test::probesDestroyed, 1);
}

struct ProcessEntry : HostedModuleTest {};

void MV_CDECL otherRoutine(void*, int32_t start, int32_t count) {
    test::probeLog.push_back("other " + std::to_string(start) + "+" + std::to_string(count));
}

TEST_F(ProcessEntry, FollowsTheRoutineTheModuleSelects) {
    test::probeSetup.plugs = {kIn, kOut};
    HostedModule host(test::probeEntries(), HostSettings{});
    host.beginBlock(0);
    host.process(0, 4);  // before open: the framework's empty routine
    EXPECT_TRUE(test::probeLog.empty());
    host.open();
    host.process(0, 4);
    moduleOf(host).setProcessRoutine({otherRoutine, 0, 0, 0});
    host.process(4, 2);
    EXPECT_EQ(test::probeLog, (std::vector<std::string>{"p0+4", "other 4+2"}));
}

}  // namespace
}  // namespace mvmhost
