// The record's dispatcher, request wrapper and process routine selection, driven through the
// record as a host drives them.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/module_base.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

// Logs which virtual operation ran, with its arguments.
class ProbeModule : public ModuleBase {
public:
    using ModuleBase::ModuleBase;
    ~ProbeModule() override { ++destroyed; }
    static int destroyed;
    std::vector<std::string> log;

    void open() override { log.push_back("open"); }
    void close() override { log.push_back("close"); }
    void onNotify() override { log.push_back("notify"); }
    void onNotifyCount(int32_t n) override { log.push_back("notifyCount " + std::to_string(n)); }
    void onCommand(int32_t value, int32_t index, void* ptr) override {
        log.push_back("command " + std::to_string(value) + " " + std::to_string(index) + " " +
                      std::to_string(reinterpret_cast<intptr_t>(ptr)));
    }
    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        log.push_back("describe " + std::to_string(index));
        if (index != 0) return false;
        info->name = "only";
        return true;
    }
};
int ProbeModule::destroyed = 0;

void MV_CDECL otherRoutine(void*, int32_t, int32_t) {}

struct Dispatcher : ::testing::Test {
    test::RecordingHost host;
    ProbeModule* module = new ProbeModule(test::RecordingHost::callback, host.handle());
    ModuleRecord* record = module->getRecord();

    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return record->dispatcherEntry(record, opcode, index, value, ptr, opt);
    }
    void TearDown() override {
        if (module) dispatch(OpClose);
    }
};

TEST_F(Dispatcher, OpcodesWithoutOperationAnswerZeroAndDoNothing) {
    ModuleRecord before = *record;
    for (int32_t opcode : {4, 5, 7, 9, 10, 11, 14, 15, 100, -1, INT32_MIN, INT32_MAX})
        EXPECT_EQ(dispatch(opcode, 1, 2, record, 3.0f), 0) << opcode;
    EXPECT_TRUE(module->log.empty());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);
}

TEST_F(Dispatcher, SampleRateAndBlockSizeAreStoredUnchecked) {
    auto at = [&](size_t offset) { return reinterpret_cast<const char*>(record) + offset; };
    for (float rate : {48000.0f, 0.0f, -1.0f}) {
        EXPECT_EQ(dispatch(OpSetSampleRate, 0, 0, nullptr, rate), 0);
        float stored;
        std::memcpy(&stored, at(sizeof(ModuleRecord)), 4);
        EXPECT_EQ(stored, rate);
        EXPECT_EQ(module->getSampleRate(), rate);
    }
    for (int32_t size : {0, -5, 64}) {
        EXPECT_EQ(dispatch(OpSetBlockSize, 0, size), 0);
        int32_t stored;
        std::memcpy(&stored, at(sizeof(ModuleRecord) + 4), 4);
        EXPECT_EQ(stored, size);
        EXPECT_EQ(module->getBlockSize(), size);
    }
}

TEST_F(Dispatcher, NotifyPassesOnlyPositiveCounts) {
    const struct {
        int32_t index;
        std::vector<std::string> log;
    } rows[] = {{0, {"notify"}}, {-5, {"notify"}}, {3, {"notify", "notifyCount 3"}}};
    for (const auto& row : rows) {
        module->log.clear();
        EXPECT_EQ(dispatch(OpNotify, row.index), 0);
        EXPECT_EQ(module->log, row.log) << row.index;
    }
}

TEST_F(Dispatcher, CommandPassesValueIndexPtr) {
    EXPECT_EQ(dispatch(OpCommand, 1, 2, reinterpret_cast<void*>(intptr_t{77})), 0);
    EXPECT_EQ(module->log, std::vector<std::string>{"command 2 1 77"});
}

TEST_F(Dispatcher, OpenCallsOpen) {
    EXPECT_EQ(dispatch(OpOpen), 0);
    EXPECT_EQ(module->log, std::vector<std::string>{"open"});
}

TEST_F(Dispatcher, PlugPropertiesAnswerOnlyZeroOrOneAndPassTheHostRecord) {
    PlugInfo info;
    std::memset(&info, 0xAB, sizeof info);
    PlugInfo untouched = info;
    EXPECT_EQ(dispatch(OpGetPlugProperties, 1, 0, &info), 0);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
    EXPECT_EQ(dispatch(OpGetPlugProperties, 0, 0, &info), 1);
    EXPECT_STREQ(info.name, "only");
    EXPECT_EQ(info.flags, static_cast<int32_t>(0xABABABAB)) << "the host's record is not cleared";
    module->log.clear();
    EXPECT_EQ(dispatch(OpGetPlugProperties, 0, 0, nullptr), 0);
    EXPECT_TRUE(module->log.empty()) << "a null record is not described into";
}

TEST_F(Dispatcher, CloseDestroysTheInstanceBeforeReturning) {
    const int before = ProbeModule::destroyed;
    EXPECT_EQ(dispatch(OpClose), 1);
    EXPECT_EQ(ProbeModule::destroyed, before + 1);
    module = nullptr;
}

TEST_F(Dispatcher, ProcessBindingInfoIsSharedAndDescribesTheLatestAsker) {
    auto* other = new ProbeModule(test::RecordingHost::callback, host.handle());
    ModuleRecord* otherRecord = other->getRecord();
    intptr_t first = dispatch(OpGetProcessBindingInfo);
    auto* info = reinterpret_cast<ProcessBindingInfo*>(first);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->one, 1);
    EXPECT_EQ(info->bindingSize, static_cast<int32_t>(sizeof(ProcessBinding)));
    EXPECT_EQ(info->zero, 0);
    EXPECT_EQ(info->binding->routine, record->processEntry);
    // Two instances asking in turn: one shared record, each time naming the asker's binding.
    other->setProcessRoutine({otherRoutine, 0, 0, 0});
    const ProcessBinding* firstBinding = info->binding;
    intptr_t second =
        otherRecord->dispatcherEntry(otherRecord, OpGetProcessBindingInfo, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(second, first);
    ASSERT_NE(info->binding, firstBinding);
    EXPECT_EQ(info->binding->routine, otherRecord->processEntry);
    EXPECT_EQ(info->binding->routine, &otherRoutine);
    EXPECT_EQ(dispatch(OpGetProcessBindingInfo), first);
    EXPECT_EQ(info->binding, firstBinding);
    EXPECT_EQ(info->binding->routine, record->processEntry);
    otherRecord->dispatcherEntry(otherRecord, OpClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Dispatcher, EmptyProcessIsSafeBeforeOpen) {
    record->processEntry(record->instance, 0, 4);
    record->processEntry(record->instance, -3, -1);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Dispatcher, SelectingARoutineTellsTheHostOnlyOnChange) {
    const struct {
        ProcessBinding binding;
        bool tells;
    } rows[] = {
        {{otherRoutine, 0, 0, 0}, true},   // new routine
        {{otherRoutine, 0, 0, 0}, false},  // same again
        {{otherRoutine, 1, 0, 0}, true},   // same routine, other qualifier
        {{otherRoutine, 1, 0, 5}, true},  {{nullptr, 0, 0, 0}, true},  // null routine
        {{nullptr, 9, 9, 9}, false},  // two null routines are equal
        {{emptyProcess, 0, 0, 0}, true},
    };
    for (const auto& row : rows) {
        host.calls.clear();
        host.respond = [&](const test::HostCall&) {
            // The entry is rewritten before the host hears of it.
            EXPECT_EQ(record->processEntry, row.binding.routine);
            return intptr_t{0};
        };
        module->setProcessRoutine(row.binding);
        EXPECT_EQ(host.count(hostProcessRoutineChanged), row.tells ? 1u : 0u);
        EXPECT_EQ(host.calls.size(), row.tells ? 1u : 0u);
        if (row.tells) {
            const ProcessBinding now = module->getProcessBinding();
            EXPECT_EQ(std::memcmp(&now, &row.binding, sizeof now), 0);
            const test::HostCall& call = host.calls.front();
            EXPECT_EQ(call.record, record);
            EXPECT_EQ(call.index | call.value, 0);
            EXPECT_EQ(call.ptr, 0);
        }
    }
}

TEST_F(Dispatcher, CallHostPassesArgumentsAndAnswerThrough) {
    host.answers[42] = -7;
    EXPECT_EQ(module->callHost(42, 1, 2, reinterpret_cast<void*>(intptr_t{3}), 4.5f), -7);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].args(), (test::RequestArgs{record, 42, 1, 2, 3, 4.5f}));
}

TEST(CallHost, WithoutCallbackAnswersZero) {
    ProbeModule module(nullptr, 0);
    for (int32_t request : {0, 3, 14, 19, 22}) EXPECT_EQ(module.callHost(request, 1, 1), 0);
    module.setProcessRoutine({otherRoutine, 0, 0, 0});
    EXPECT_EQ(module.getRecord()->processEntry, &otherRoutine) << "stored, though nobody is told";
}

}  // namespace
}  // namespace mv
