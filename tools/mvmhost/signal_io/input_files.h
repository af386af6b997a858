// Inputs as a render opens them: a file by its name, or standard input for "-". A pipe, a FIFO
// or a terminal is first read to its end into a temporary file, so that every input can be read
// again from its start, and Ctrl-C stops the wait for more.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace mvmhost {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputStream = std::unique_ptr<std::FILE, FileCloser>;

// Throws Error saying why it cannot ("no such file", "it is a directory, not a file"), and for a
// second "-" in one process: standard input is read once.
InputStream openInput(const std::string& path);

// The first bytes of the stream, for binaryContent(); the stream is back at its start after.
std::string streamHead(std::FILE* file);

}  // namespace mvmhost
