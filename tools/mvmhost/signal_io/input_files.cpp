#include "tools/mvmhost/signal_io/input_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/runtime/interrupts.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

constexpr size_t kCopyChunk = size_t{1} << 16;
constexpr size_t kHeadBytes = 512;
constexpr int kWaitMs = 100;  // how long a wait for input goes without a look at Ctrl-C

bool standardInputTaken = false;

InputStream temporaryCopy(const std::string& shown) {
    InputStream copy(std::tmpfile());
    if (!copy)
        throw Error("cannot read " + shown + ": no temporary file to keep it in (" +
                    std::strerror(errno) + ")");
    return copy;
}

void keep(std::FILE* copy, const char* bytes, size_t size, const std::string& shown) {
    if (std::fwrite(bytes, 1, size, copy) != size)
        throw Error("cannot read " + shown + ": no room left for the temporary copy of it (" +
                    writeFailureWords(errno) + ")");
}

#if defined(_WIN32)
InputStream copied(std::FILE* from, const std::string& shown) {
    InputStream copy = temporaryCopy(shown);
    std::vector<char> chunk(kCopyChunk);
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), from)) > 0;) {
        stopIfInterrupted();
        keep(copy.get(), chunk.data(), n, shown);
    }
    if (std::ferror(from)) throw Error("cannot read " + shown + ": read error");
    std::rewind(copy.get());
    return copy;
}
#else
// Reads `fd` to its end, a look at Ctrl-C between waits: a FIFO nobody writes to yet, or a
// pipe whose writer is slow, would otherwise hold the program deaf to it.
InputStream copied(int fd, const std::string& shown) {
    InputStream copy = temporaryCopy(shown);
    std::vector<char> chunk(kCopyChunk);
    for (;;) {
        stopIfInterrupted();
        pollfd wait{fd, POLLIN, 0};
        const int ready = poll(&wait, 1, kWaitMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n < 0) throw Error("cannot read " + shown + ": " + std::strerror(errno));
        if (n == 0) break;
        keep(copy.get(), chunk.data(), static_cast<size_t>(n), shown);
    }
    std::rewind(copy.get());
    return copy;
}
#endif

}  // namespace

InputStream openInput(const std::string& path) {
    if (isStandardStream(path)) {
        if (standardInputTaken)
            throw Error(
                "standard input is read once: feed one input from '-', or every column of one "
                "CSV text with --inputs -");
        standardInputTaken = true;
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
        return copied(stdin, inputName(path));
#else
        return copied(STDIN_FILENO, inputName(path));
#endif
    }
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status) || fs::is_directory(status) || fs::is_regular_file(status))
        return InputStream(openForReading(path));
#if defined(_WIN32)
    return InputStream(openForReading(path));
#else
    // Without waiting for a writer to come: that wait is the copy's, with Ctrl-C heard.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Error("cannot read " + path + ": " + std::strerror(errno));
    try {
        InputStream copy = copied(fd, path);
        close(fd);
        return copy;
    } catch (...) {
        close(fd);
        throw;
    }
#endif
}

std::string streamHead(std::FILE* file) {
    std::string head(kHeadBytes, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::rewind(file);
    return head;
}

}  // namespace mvmhost
