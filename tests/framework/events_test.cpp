// Event delivery through the record's event entry, and events posted to the host.
#include <vector>

#include <gtest/gtest.h>

#include "framework/module_base.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

class EventModule : public ModuleBase {
public:
    explicit EventModule(test::RecordingHost& host)
        : ModuleBase(test::RecordingHost::callback, host.handle()) {}
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (index < 0 || index > 2) return false;
        info->datatype = 6;  // own storage, no host request
        return true;
    }
    void onPlugStateChange(Plug* plug) override {
        seen.push_back({plug->getIndex(), plug->getStreamState()});
    }
    void onDataEvent(int32_t clock, int32_t value, int16_t second) override {
        data.push_back({clock, value, second});
    }
    void tick() { ++ticks; }

    struct Seen {
        int32_t index;
        StreamState during;
    };
    struct Data {
        int32_t clock, value, second;
    };
    std::vector<Seen> seen;
    std::vector<Data> data;
    int ticks = 0;
};

struct Events : ::testing::Test {
    test::RecordingHost host;
    EventModule module{host};
    ModuleRecord* record = module.getRecord();

    void SetUp() override {
        host.answers[hostGetPlugCount] = 3;
        module.open();
    }
    void deliver(ModuleEvent event) { record->eventEntry(record->instance, &event); }
    static ModuleEvent stateChange(intptr_t plug, int32_t state) {
        return {0, PlugStateChange, state, 0, plug, 0};
    }
};

TEST_F(Events, StateChangeReachesTheModuleWithTheStateSet) {
    const struct {
        int32_t state;
        StreamState after;
    } rows[] = {{SingleChange, Static}, {Streaming, Streaming}, {Static, Static}};
    for (const auto& row : rows) {
        module.seen.clear();
        deliver(stateChange(2, row.state));
        ASSERT_EQ(module.seen.size(), 1u) << row.state;
        EXPECT_EQ(module.seen[0].index, 2);
        EXPECT_EQ(module.seen[0].during, row.state);
        EXPECT_EQ(module.getPlug(2)->getStreamState(), row.after);
    }
}

TEST_F(Events, SameStateTwiceTellsTheModuleTwice) {
    deliver(stateChange(1, Streaming));
    deliver(stateChange(1, Streaming));
    EXPECT_EQ(module.seen.size(), 2u);
}

TEST_F(Events, StateChangeForAPlugThatDoesNotExistIsIgnored) {
    for (intptr_t plug : {intptr_t{-1}, intptr_t{3}, intptr_t{1} << 20})
        deliver(stateChange(plug, Streaming));
    EXPECT_TRUE(module.seen.empty());
    EventModule unopened(host);
    ModuleEvent event = stateChange(0, Streaming);
    unopened.getRecord()->eventEntry(unopened.getRecord()->instance, &event);
    EXPECT_TRUE(unopened.seen.empty()) << "no plug table before open";
}

TEST_F(Events, DataEventPassesTheLow16BitsOfParam2) {
    deliver({100, DataEvent, 7, 0x7FFF0003, 0, 0});
    deliver({-5, DataEvent, -1, 0x0000FFFF, 0, 0});
    ASSERT_EQ(module.data.size(), 2u);
    EXPECT_EQ(module.data[0].clock, 100);
    EXPECT_EQ(module.data[0].value, 7);
    EXPECT_EQ(module.data[0].second, 3);
    EXPECT_EQ(module.data[1].second, -1);
}

TEST_F(Events, RoutineCallRunsTheRoutineOnce) {
    const ModuleRoutine tick = routineOf<EventModule, &EventModule::tick>;
    deliver({0, RoutineCall, 0, 0, reinterpret_cast<intptr_t>(tick), 0});
    EXPECT_EQ(module.ticks, 1);
    deliver({0, RoutineCall, 0, 0, 0, 0});  // a null routine is ignored
    EXPECT_EQ(module.ticks, 1);
}

TEST_F(Events, OtherTypesDoNothing) {
    for (int32_t type : {1, 3, 20, 22, -1}) deliver({0, type, 1, 1, 1, 0});
    EXPECT_TRUE(module.seen.empty());
    EXPECT_TRUE(module.data.empty());
    EXPECT_EQ(module.ticks, 0);
}

TEST_F(Events, PostedEventsAreCopiedByTheHostDuringTheCall) {
    host.calls.clear();
    host.answers[hostPostEvent] = 55;
    EXPECT_EQ(module.postEvent(500, RoutineCall, 0, 0, 0x1234), 55);
    const ModuleRoutine tick = routineOf<EventModule, &EventModule::tick>;
    module.scheduleCall(-7, tick);
    const auto posted = host.callsOf(hostPostEvent);
    ASSERT_EQ(posted.size(), 2u);
    const ModuleEvent& first = posted[0].event;
    EXPECT_EQ(first.clock, 500);
    EXPECT_EQ(first.type, RoutineCall);
    EXPECT_EQ(first.param1 | first.param2 | first.reserved, 0);
    EXPECT_EQ(first.param3, 0x1234);
    EXPECT_EQ(posted[0].index | posted[0].value, 0);
    // Handing the posted event back runs the routine, as a host would later.
    ModuleEvent back = posted[1].event;
    EXPECT_EQ(back.clock, -7);
    deliver(back);
    EXPECT_EQ(module.ticks, 1);
}

TEST(PostEvent, WithoutCallbackSendsNothing) {
    class Bare : public ModuleBase {
    public:
        Bare() : ModuleBase(nullptr, 0) {}
    } bare;
    EXPECT_EQ(bare.postEvent(1, DataEvent, 1, 1, 1), 0);
}

}  // namespace
}  // namespace mv
