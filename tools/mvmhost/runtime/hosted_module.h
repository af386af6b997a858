// A host for one module instance: it makes the instance through makeModule, learns its plugs
// through opcode 6, owns every sample buffer, answers the instance's requests, and drives
// the record's entries. Nothing here knows which module it hosts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/module_event.h"
#include "host/module_record.h"
#include "host/plug_info.h"
#include "host/stream_state.h"
#include "tools/mvmhost/runtime/guarded_memory.h"
#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {

struct HostSettings {
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t plugCount = -1;     // plugs the host makes; negative: as many as the descriptions count
    int32_t guardSamples = 16;  // sentinel samples on each side of every buffer
    // Every buffer ends flush against an unreadable page (an input's last sample, an output's
    // last sentinel), so that a read past it faults.
    bool guardPages = false;
};

// One answer of opcode 6, copied out of the module's texts.
struct PlugDescription {
    int32_t descriptionIndex = 0;
    int32_t plugIndex = -1;  // -1 for a description that takes no plug index
    void* variable = nullptr;
    int32_t direction = 0;
    int32_t datatype = 0;
    int32_t flags = 0;
    std::string name;
    std::optional<std::string> defaultValue;
    std::optional<std::string> listText;
};

// A plug the host made: from a description, repeated from a RepeatLast one, or a spare slot.
struct HostPlug {
    int32_t index = 0;
    std::string name;
    int32_t direction = mv::PlugInput;
    int32_t datatype = -1;                         // -1 for a spare slot nothing describes
    void* variable = nullptr;                      // where the host writes the plug's value
    const PlugDescription* description = nullptr;  // null for repeated and spare slots

    bool isSignal() const { return datatype == mv::Signal; }
    bool isList() const { return datatype == mv::Enumerated; }
    bool isInput() const { return direction == mv::PlugInput; }
    bool isOutput() const { return direction == mv::PlugOutput; }
};

// A request the host does not answer with a value of its own, kept for the caller to show.
struct LoggedRequest {
    int32_t clock;  // the host's sample clock when it came
    int32_t request;
    int32_t index;
    int32_t value;
    intptr_t ptr;
};

class HostedModule {
public:
    // Makes the instance, describes its plugs and sends the sample rate and block size.
    // Throws Error when makeModule answers null or a description cannot be used.
    HostedModule(const EntryPoints& entries, const HostSettings& settings);
    ~HostedModule();  // opcode 1
    HostedModule(const HostedModule&) = delete;
    HostedModule& operator=(const HostedModule&) = delete;

    intptr_t open();  // opcode 0, answering its answer; the process entry is read afresh afterwards
    // The process entry as the record held it when the module last told the host of a change
    // (request 22), or at construction: what a host that reads it only when told would call.
    mv::ProcessRoutine toldProcessEntry() const { return told_; }

    const std::vector<PlugDescription>& descriptions() const { return descriptions_; }
    const std::vector<HostPlug>& plugs() const { return plugs_; }
    // Throws Error listing the plugs there are.
    const HostPlug& plugNamed(std::string_view name) const;
    int32_t blockSize() const { return settings_.blockSize; }
    float sampleRate() const { return settings_.sampleRate; }
    mv::ModuleRecord* record() const { return record_; }

    // A plug's buffer of blockSize() samples, fixed for the instance's life.
    float* buffer(int32_t plug) { return bases_[static_cast<size_t>(plug)] + guard_; }
    const float* buffer(int32_t plug) const { return bases_[static_cast<size_t>(plug)] + guard_; }
    // Whose guard page `address` lies in, and at which sample counted from the buffer's
    // first; false when in none.
    bool inGuardPage(uintptr_t address, int32_t* plug, std::ptrdiff_t* samplesOutside) const;
    // False once anything wrote into the sentinels on either side of the plug's buffer.
    bool guardsIntact(int32_t plug) const;

    // Writes a list plug's value into the module's variable.
    void setListValue(int32_t plug, int16_t value);
    // Starts a block at `clock`: writes every Signal plug's buffer address into its variable.
    void beginBlock(int32_t clock);
    // One call of the process entry for samples start .. start + count - 1 of the block.
    void process(int32_t start, int32_t count);
    // A PlugStateChange event for `plug`, delivered at `clock`.
    void changeStreamState(int32_t plug, mv::StreamState state, int32_t clock);
    void deliver(mv::ModuleEvent event);

    // Routine calls the module posted (request 19), handed back when their clock comes.
    int32_t nextPostedClock() const;  // INT32_MAX when none waits
    void deliverPostedUpTo(int32_t clock);

    const std::vector<LoggedRequest>& log() const { return log_; }
    void clearLog() { log_.clear(); }  // keeps its capacity: a request never allocates
    uint64_t droppedLogEntries() const { return droppedLog_; }
    // Request numbers 0 to kRequestSlots - 1 are counted one by one; all others share one count.
    static constexpr int32_t kRequestSlots = 32;
    uint64_t requestCount(int32_t request) const;
    // The state the module last announced for an output (request 0); -1 before any.
    int32_t announcedState(int32_t plug) const { return announced_[static_cast<size_t>(plug)]; }

    // The entry of the module the host is inside, and the sample clock it called at: what a
    // report of a crash there names.
    enum class Entry { None, Dispatcher, Process, Event };
    Entry entered() const { return entered_; }
    int32_t clock() const { return clock_; }

    static intptr_t MV_CDECL callback(void* record, int32_t request, int32_t index, int32_t value,
                                      void* ptr, float opt) noexcept;

private:
    void describe();
    void makePlugs();
    intptr_t answer(int32_t request, int32_t index, int32_t value, void* ptr) noexcept;
    void note(int32_t request, int32_t index, int32_t value, void* ptr) noexcept;
    bool isPlug(int32_t index) const { return index >= 0 && index < plugCount_; }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    EntryPoints entries_;
    HostSettings settings_;
    size_t guard_;
    mv::ModuleRecord* record_ = nullptr;
    mv::ProcessRoutine process_ = nullptr;  // read again whenever the module says it changed
    mv::ProcessRoutine told_ = nullptr;
    std::vector<PlugDescription> descriptions_;
    std::vector<HostPlug> plugs_;
    int32_t plugCount_ = 0;
    std::vector<std::vector<float>> buffers_;  // without guard pages
    std::vector<GuardedRegion> regions_;       // with them
    std::vector<float*> bases_;                // each buffer's first leading sentinel
    std::vector<size_t> trailing_;             // sentinels after each buffer
    std::vector<int32_t> announced_;
    int32_t blockStart_ = 0;
    int32_t clock_ = 0;
    Entry entered_ = Entry::None;

    static constexpr size_t kLogCapacity = 4096;
    std::vector<LoggedRequest> log_;  // capacity reserved up front: a request never allocates
    uint64_t droppedLog_ = 0;
    std::array<uint64_t, kRequestSlots + 1> counts_{};  // by request number, then all others

    static constexpr size_t kPostedCapacity = 64;
    std::array<mv::ModuleEvent, kPostedCapacity> posted_{};
    size_t postedCount_ = 0;
};

// A stream state as the system names it: "Static", "SingleChange", "Streaming"; "state N" for
// any other number a module sent.
std::string streamStateName(int32_t state);

// Why two hosts' plugs cannot take the same inputs (their number, a name, a direction or a
// datatype differs), naming the hosts as `nameA` and `nameB`; empty when they can.
std::string plugMismatch(const HostedModule& a, const HostedModule& b, const std::string& nameA,
                         const std::string& nameB);

}  // namespace mvmhost
