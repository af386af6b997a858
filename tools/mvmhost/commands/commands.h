// The subcommands, each answering an exit status: 0 success, 2 a usage error or a library
// that cannot be loaded or used (1 is kept for a failed check). They throw Error for 2.
#pragma once

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

// Parses and runs one command line (without the program name); prints a failure as one line
// on standard error and answers its exit status.
int runCommandLine(const std::vector<std::string>& args);

}  // namespace mvmhost
