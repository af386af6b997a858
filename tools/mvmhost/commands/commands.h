// The subcommands, each answering an exit status: 0 success, 2 a usage error or a library
// that cannot be loaded or used (1 is kept for a failed check). They throw Error for 2.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mvmhost {

int infoCommand(const std::string& library);

struct DemoOptions {
    std::string library;  // empty: COUNTreset1.mvm beside this program
    std::string outDir = ".";
    bool svg = false;  // the picture as SVG instead of PNG
};
int demoCommand(const DemoOptions& options);

// Every line of the file a command line of its own, run by `runLine` in this one process.
int batchCommand(const std::string& path,
                 const std::function<int(const std::vector<std::string>&)>& runLine);

// Prints "mvmhost: MESSAGE" on standard error, escaped where not printable; answers 2.
int failWith(const std::string& message);

}  // namespace mvmhost
