// The plug table built at open, from a test module's own descriptions.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "framework/module_base.h"
#include "host/exports.h"
#include "modules/count_reset/count_reset_module.h"
#include "tests/support/recording_host.h"

namespace {
bool failAllocation = false;
}

// These take the place of the framework's own, so that a test can make an allocation fail.
// Fresh blocks are filled with a pattern, so that a field left unset shows.
void* mv::heapAllocate(std::size_t size) noexcept {
    if (failAllocation) return nullptr;
    void* block = std::malloc(size ? size : 1);
    if (block) std::memset(block, 0xA5, size);
    return block;
}
void mv::heapFree(void* block) noexcept { std::free(block); }

namespace mv {
namespace {

class TableModule : public ModuleBase {
public:
    TableModule(test::RecordingHost& host, std::vector<PlugInfo> described)
        : ModuleBase(test::RecordingHost::callback, host.handle()),
          descriptions(std::move(described)) {}
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        asked.push_back(index);
        if (index < 0 || index >= static_cast<int32_t>(descriptions.size())) return false;
        *info = descriptions[index];
        return true;
    }
    std::vector<PlugInfo> descriptions;
    std::vector<int32_t> asked;
};

float* const kHostBuffer = reinterpret_cast<float*>(intptr_t{0x1000});

PlugInfo describe(int32_t datatype, void* variable = nullptr, int32_t flags = 0) {
    PlugInfo info{};
    info.variable = variable;
    info.datatype = datatype;
    info.flags = flags;
    info.name = "plug";
    return info;
}

struct PlugTable : ::testing::Test {
    test::RecordingHost host;
    float* vars[8] = {};

    // Opens a module with these descriptions under a host that counts `plugs`; request 7
    // answers a distinct fake buffer per plug index.
    TableModule& open(std::vector<PlugInfo> described, intptr_t plugs) {
        module = std::make_unique<TableModule>(host, std::move(described));
        host.respond = [plugs](const test::HostCall& call) -> intptr_t {
            if (call.request == hostGetPlugCount) return plugs;
            if (call.request == hostGetPlugValuePointer)
                return reinterpret_cast<intptr_t>(kHostBuffer + call.index);
            return 0;
        };
        module->open();
        return *module;
    }
    std::unique_ptr<TableModule> module;
};

TEST_F(PlugTable, SixDescribedSixCounted) {
    std::vector<PlugInfo> six;
    for (int i = 0; i < 6; ++i) six.push_back(describe(Signal, &vars[i]));
    TableModule& m = open(six, 6);
    EXPECT_EQ(m.asked, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 5}));
    ASSERT_EQ(m.plugCount(), 6);
    for (int32_t i = 0; i < 6; ++i) {
        Plug* plug = m.getPlug(i);
        EXPECT_EQ(plug->getIndex(), i);
        EXPECT_EQ(plug->getValue(), &vars[i]);
        EXPECT_EQ(plug->getModule(), &m);
        EXPECT_EQ(plug->getStreamState(), Static);
    }
    EXPECT_EQ(m.getPlug(6), nullptr);
    EXPECT_EQ(m.getPlug(-1), nullptr);
    EXPECT_EQ(host.count(hostGetPlugCount), 1u);
    EXPECT_EQ(host.count(hostGetPlugValuePointer), 0u) << "every plug gave a variable";
}

TEST_F(PlugTable, NotAPlugTakesNoIndexUnlessCountAsPlug) {
    const struct {
        int32_t middleFlags;
        intptr_t count;
        std::vector<void*> expected;  // value of each plug
    } rows[] = {
        {NotAPlug, 2, {&vars[0], &vars[2]}},
        {NotAPlug | CountAsPlug, 3, {&vars[0], &vars[1], &vars[2]}},
        {NotAPlug | 0x1 | 0x100000, 2, {&vars[0], &vars[2]}},  // other bits are not read
    };
    for (const auto& row : rows) {
        TableModule& m =
            open({describe(Signal, &vars[0]), describe(Signal, &vars[1], row.middleFlags),
                  describe(Signal, &vars[2])},
                 row.count);
        ASSERT_EQ(m.plugCount(), static_cast<int32_t>(row.expected.size()));
        for (size_t p = 0; p < row.expected.size(); ++p)
            EXPECT_EQ(m.getPlug(int32_t(p))->getValue(), row.expected[p])
                << row.middleFlags << " " << p;
    }
}

TEST_F(PlugTable, RepeatLastFillsRemainingSlotsWithOwnStorage) {
    TableModule& m = open({describe(Signal, &vars[0]), describe(Enumerated, &vars[1]),
                           describe(Signal, &vars[2], RepeatLast)},
                          5);
    EXPECT_EQ(m.getPlug(2)->getValue(), &vars[2]);
    for (int32_t p : {3, 4}) {
        Plug* plug = m.getPlug(p);
        EXPECT_EQ(plug->getDatatype(), Signal);
        ASSERT_NE(plug->getValue(), nullptr);
        EXPECT_EQ(*static_cast<float**>(plug->getValue()), kHostBuffer + p);
    }
    const auto asked = host.callsOf(hostGetPlugValuePointer);
    ASSERT_EQ(asked.size(), 2u) << "asked once per plug, at open";
    EXPECT_EQ(asked[0].index, 3);
    EXPECT_EQ(asked[1].index, 4);
}

TEST_F(PlugTable, RepeatLastOnlyOnAPlugThatIsLast) {
    const struct {
        std::vector<int32_t> flags;
    } rows[] = {
        {{RepeatLast, 0, 0}},             // not the last description
        {{0, 0, RepeatLast | NotAPlug}},  // last, but not a plug
    };
    for (const auto& row : rows) {
        TableModule& m = open(
            {describe(Signal, &vars[0], row.flags[0]), describe(Signal, &vars[1], row.flags[1]),
             describe(Signal, &vars[2], row.flags[2])},
            5);
        for (int32_t p = 0; p < 5; ++p) {
            Plug* plug = m.getPlug(p);
            ASSERT_NE(plug, nullptr);
            EXPECT_EQ(plug->getIndex(), p) << "free slots keep their index";
            if (p >= 2 + (row.flags[2] & NotAPlug ? 0 : 1)) {
                EXPECT_EQ(plug->getValue(), nullptr);
                EXPECT_EQ(plug->getModule(), nullptr);
                EXPECT_EQ(plug->currentValue(), 0.0f);
            }
        }
        EXPECT_EQ(host.count(hostGetPlugValuePointer), 0u);
    }
}

TEST_F(PlugTable, MoreDescriptionsThanCountedAreIgnored) {
    TableModule& m = open(
        {describe(Signal, &vars[0]), describe(Signal, &vars[1]), describe(Signal, &vars[2])}, 2);
    EXPECT_EQ(m.plugCount(), 2);
    EXPECT_EQ(m.asked, (std::vector<int32_t>{0, 1, 2, 1}));
}

TEST_F(PlugTable, NoPlugsCountedNoTable) {
    for (intptr_t count : {0, -1, -1000}) {
        TableModule& m =
            open({describe(Signal, &vars[0], RepeatLast), describe(Signal, &vars[1])}, count);
        EXPECT_EQ(m.plugCount(), 0);
        EXPECT_EQ(m.getPlug(0), nullptr);
        EXPECT_EQ(m.asked, std::vector<int32_t>{0}) << "index 0 is read, and it finds no slot";
    }
}

TEST_F(PlugTable, NoDescriptionsNoRepeat) {
    TableModule& m = open({}, 3);
    EXPECT_EQ(m.asked, std::vector<int32_t>{0});
    EXPECT_EQ(m.plugCount(), 3);
    EXPECT_EQ(m.getPlug(0)->getValue(), nullptr);
}

TEST_F(PlugTable, OwnValueLocationByDatatype) {
    const struct {
        int32_t datatype;
        bool hasStorage;
    } rows[] = {{0, true}, {1, false}, {2, false}, {3, false}, {4, true},  {5, true},
                {6, true}, {7, false}, {8, true},  {9, false}, {-1, false}};
    std::vector<PlugInfo> described;
    for (const auto& row : rows) described.push_back(describe(row.datatype));
    TableModule& m = open(described, std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        Plug* plug = m.getPlug(int32_t(i));
        SCOPED_TRACE(rows[i].datatype);
        EXPECT_EQ(plug->getValue() != nullptr, rows[i].hasStorage);
        if (!rows[i].hasStorage || rows[i].datatype == Signal) continue;
        // Own storage reads 0 at every width the datatype uses.
        int32_t word;
        std::memcpy(&word, plug->getValue(), sizeof word);
        EXPECT_EQ(word, 0);
    }
    EXPECT_EQ(*static_cast<float**>(m.getPlug(5)->getValue()), kHostBuffer + 5);
}

TEST_F(PlugTable, SecondOpenRebuildsTheTable) {
    TableModule& m = open({describe(Signal, &vars[0]), describe(Signal, &vars[1])}, 2);
    host.respond = [](const test::HostCall& call) -> intptr_t {
        return call.request == hostGetPlugCount ? 1 : 0;
    };
    m.open();  // LeakSanitizer catches a table left behind
    EXPECT_EQ(m.plugCount(), 1);
    EXPECT_EQ(m.getPlug(0)->getValue(), &vars[0]);
}

TEST_F(PlugTable, AllocationFailureBuildsNoTable) {
    module = std::make_unique<TableModule>(host, std::vector<PlugInfo>{describe(Signal, &vars[0])});
    host.answers[hostGetPlugCount] = 4;
    failAllocation = true;  // the table is the only allocation of open
    module->open();
    failAllocation = false;
    TableModule& m = *module;
    EXPECT_EQ(m.plugCount(), 0);
    EXPECT_EQ(m.getPlug(0), nullptr);
}

TEST(MakeModuleOutOfMemory, AnswersNull) {
    test::RecordingHost host;
    failAllocation = true;
    ModuleRecord* record = makeModule(0, KindModule, test::RecordingHost::callback, host.handle());
    failAllocation = false;
    EXPECT_EQ(record, nullptr);
    EXPECT_TRUE(host.calls.empty());
}

TEST(CounterOutOfMemory, OpenWithoutTableStillStartsCounting) {
    test::RecordingHost host;
    host.answers[hostGetPlugCount] = 6;
    test::ModuleInstance instance(host);
    failAllocation = true;
    instance.open();
    failAllocation = false;
    auto& counter = instance.module<CountResetModule>();
    EXPECT_EQ(counter.plugCount(), 0);
    EXPECT_EQ(counter.resetValue, 7);
    EXPECT_EQ(host.count(hostProcessRoutineChanged), 1u);
    // Without plugs a state change is ignored, and nothing is announced.
    instance.deliver({0, PlugStateChange, Streaming, 0, UpCount, 0});
    EXPECT_EQ(host.count(hostSetOutputState), 0u);
}

TEST(CounterConstruction, EveryFieldStartsZeroed) {
    test::RecordingHost host;
    test::ModuleInstance instance(host);  // allocated over a 0xA5 pattern
    const auto& c = instance.module<CountResetModule>();
    EXPECT_EQ(c.upCountBuffer, nullptr);
    EXPECT_EQ(c.upZeroBuffer, nullptr);
    EXPECT_EQ(c.byStepBuffer, nullptr);
    EXPECT_EQ(c.outClimbBuffer, nullptr);
    EXPECT_EQ(c.resetPulseBuffer, nullptr);
    EXPECT_EQ(c.previousUpCount, 0.0f);
    EXPECT_EQ(c.previousUpZero, 0.0f);
    EXPECT_EQ(c.threshold, 0.0f);
    EXPECT_EQ(c.accumulator, 0.0f);
    EXPECT_EQ(c.resetValue, 0);
    EXPECT_EQ(c.pulseCountdown, 0);
    EXPECT_EQ(c.plugCount(), 0);
    // Processing before open has no buffers to touch.
    instance.process(0, 16);
}

struct PlugRequests : PlugTable {
    float buffer[32] = {};
    float* bufferVar = buffer;
    Plug* plug = nullptr;
    void SetUp() override {
        for (int i = 0; i < 32; ++i) buffer[i] = float(i) * 0.5f;
        open({describe(Signal), describe(Signal), describe(Signal), describe(Signal),
              describe(Signal, &bufferVar)},
             5);
        plug = module->getPlug(4);
        host.calls.clear();
        host.respond = nullptr;
    }
};

TEST_F(PlugRequests, CurrentValueReadsAtClockMinusBlockStart) {
    host.respond = [](const test::HostCall& call) -> intptr_t {
        if (call.request == hostGetSampleClock) return 1000;
        if (call.request == hostGetBlockStartClock) return 990;
        return 0;
    };
    EXPECT_EQ(plug->currentValue(), 5.0f);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].request, hostGetBlockStartClock);
    EXPECT_EQ(host.calls[0].index, 4);
    EXPECT_EQ(host.calls[1].request, hostGetSampleClock);
}

TEST_F(PlugRequests, CurrentValueWithoutBufferReadsNothing) {
    bufferVar = nullptr;
    EXPECT_EQ(plug->currentValue(), 0.0f);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(PlugRequests, PlugLevelRequestsCarryTheirArguments) {
    host.answers[hostPlugQuery] = 9;
    host.answers[hostPlugNotice] = -3;
    plug->setOutputState(512, Streaming);
    EXPECT_TRUE(plug->queryFlag());
    EXPECT_EQ(plug->notifyHost(77, 5), -3);
    ASSERT_EQ(host.calls.size(), 3u);
    void* record = module->getRecord();
    const test::RequestArgs expected[] = {{record, hostSetOutputState, 4, Streaming, 512, 0},
                                          {record, hostPlugQuery, 4, 0, 0, 0},
                                          {record, hostPlugNotice, 4, 5, 77, 0}};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(host.calls[i].args(), expected[i]);
}

TEST_F(PlugRequests, AnyNonZeroQueryAnswerIsTrue) {
    const struct {
        intptr_t answer;
        bool flag;
    } rows[] = {{0, false}, {1, true}, {-1, true}, {INT32_MIN, true}, {0x10000, true}};
    for (const auto& row : rows) {
        host.answers[hostPlugQuery] = row.answer;
        EXPECT_EQ(plug->queryFlag(), row.flag) << row.answer;
    }
}

TEST_F(PlugRequests, NegativeClockTravelsAsAWord) {
    plug->setOutputState(-2, SingleChange);
    EXPECT_EQ(static_cast<int32_t>(host.calls.at(0).ptr), -2);
}

}  // namespace
}  // namespace mv
