#include "tools/mvmhost/check/isolation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/check/report.h"
#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {

Outcome runGuarded(const CheckDefinition& check, CheckContext& context) {
    try {
        return check.run(context);
    } catch (const Error& error) {  // a module's fault, or the host refusing what it described
        return {CheckStatus::Fail, error.what()};
    } catch (const std::exception& e) {
        return {CheckStatus::Fail, std::string("the validator stopped: ") + e.what()};
    } catch (...) {
        return {CheckStatus::Fail, "the validator stopped on an unknown exception"};
    }
}

namespace {

// What a child leaves for its parent: a status letter and the reason, then the terminator.
constexpr size_t kAnswerBytes = 16384;

CheckStatus statusOf(char letter) {
    switch (letter) {
    case 'P':
        return CheckStatus::Pass;
    case 'S':
        return CheckStatus::Skip;
    case 'W':
        return CheckStatus::Warn;
    default:
        return CheckStatus::Fail;
    }
}

// A verdict of the sandbox in a check's words, for a check that gave no answer.
CheckResult resultOf(const char* name, const Verdict& verdict, double limit) {
    CheckResult result{name, CheckStatus::Fail, {}, verdict.seconds, {}};
    std::string what;
    switch (verdict.kind) {
    case Verdict::Interrupted:
        result.status = CheckStatus::NotRun;
        result.reason = "interrupted";
        return result;
    case Verdict::TimedOut:
        result.reason = timedOutText(limit);
        return result;
    case Verdict::Crashed:
        what = verdict.crash;
        break;
    case Verdict::Exited:
        what = "exited with status " + std::to_string(verdict.exitStatus);
        break;
    }
    if (!verdict.log.empty()) what += "; report in " + verdict.log;
    result.reason = "crashed (" + what + ")";
    return result;
}

}  // namespace

Isolation::Isolation(const CheckOptions& options, LastWord lastWord, void* data)
    : sandbox_("check", options.timeLimit),
      inProcess_(options.inProcess || !Sandbox::canFork()),
      timeLimit_(options.timeLimit),
      lastWord_(lastWord),
      data_(data),
      library_(options.libraries.empty() ? std::string() : options.libraries.front()) {}

CheckResult Isolation::run(const CheckDefinition& check, CheckContext& context) {
    return inProcess_ ? runHere(check, context) : runInChild(check, context);
}

CheckResult Isolation::runInChild(const CheckDefinition& check, CheckContext& context) {
    SharedMemory answer(kAnswerBytes);
    char* text = static_cast<char*>(answer.data());
    sandbox_.start(check.name, [&] {
        const Outcome outcome = runGuarded(check, context);
        std::string line = std::string(1, statusWord(outcome.status)[0]) + outcome.reason;
        for (char& ch : line)
            if (ch == '\n' || ch == '\r') ch = ' ';
        line.resize(std::min(line.size(), kAnswerBytes - 2));
        std::memcpy(text, line.data(), line.size());
        text[line.size()] = '\n';  // written last: the answer is whole
        return 0;
    });
    const Verdict verdict = sandbox_.next()->verdict;
    const char* end = static_cast<const char*>(std::memchr(text, '\n', kAnswerBytes));
    if (end && end > text && verdict.kind != Verdict::TimedOut)
        return {check.name, statusOf(text[0]), std::string(static_cast<const char*>(text) + 1, end),
                verdict.seconds, {}};
    return resultOf(check.name, verdict, timeLimit_);
}

CheckResult Isolation::runHere(const CheckDefinition& check, CheckContext& context) {
    // Every check meets the library as a host that has just loaded it does, as in a child.
    std::unique_ptr<FreshLibrary> fresh;
    const EntryPoints shared = context.entries;
    if (!library_.empty()) {
        fresh = std::make_unique<FreshLibrary>(library_, check.name);
        context.entries = fresh->entries();
    }
    Outcome outcome;
    const double limit = timeLimit_;
    const double seconds = sandbox_.runHere(
        check.name, [&] { outcome = runGuarded(check, context); },
        [this, &check, limit](const std::string&, const Verdict& verdict) {
            const CheckResult last = resultOf(check.name, verdict, limit);
            if (lastWord_) lastWord_(last, data_);
            std::fflush(stdout);
            return verdict.kind == Verdict::Interrupted ? exit_status::kInterrupted
                                                        : exit_status::kFailed;
        });
    context.entries = shared;
    return {check.name, outcome.status, outcome.reason, seconds, {}};
}

}  // namespace mvmhost
