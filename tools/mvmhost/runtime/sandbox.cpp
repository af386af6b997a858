#include "tools/mvmhost/runtime/sandbox.h"

#include <fstream>

namespace mvmhost {

std::string sanitizerSummary(const std::string& log) {
    std::ifstream in(log);
    std::string summary, runtimeError, error;
    for (std::string line; std::getline(in, line);) {
        if (size_t at = line.find("SUMMARY: "); at != std::string::npos) summary = line.substr(at + 9);
        if (size_t at = line.find("runtime error: "); at != std::string::npos && runtimeError.empty())
            runtimeError = "UndefinedBehaviorSanitizer: " + line.substr(at + 15);
        if (size_t at = line.find("ERROR: "); at != std::string::npos && error.empty()) error = line.substr(at + 7);
    }
    if (summary.empty()) summary = runtimeError.empty() ? error : runtimeError;
    while (!summary.empty() && (summary.back() == ' ' || summary.back() == '\r')) summary.pop_back();
    return summary;
}

}  // namespace mvmhost
