#include "tools/mvmhost/base/files.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/mvmhost/base/error.h"

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

constexpr size_t kHeadBytes = 512;

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::FILE* openForReading(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw Error("cannot read " + path + ": no such file");
    if (fs::is_directory(status))
        throw Error("cannot read " + path + ": it is a directory, not a file");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw Error("cannot read " + path + ": " + std::strerror(errno));
    return file;
}

void refuseDirectory(const std::string& what, const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Error(what + " " + path + ": it is a directory");
}

std::string binaryContent(std::string_view head) {
    if ((startsWith(head, "RIFF") || startsWith(head, "RIFX") || startsWith(head, "RF64")) &&
        head.substr(8, 4) == "WAVE")
        return "a WAV file";
    if (startsWith(head, "FORM") && (head.substr(8, 4) == "AIFF" || head.substr(8, 4) == "AIFC"))
        return "an AIFF file";
    if (startsWith(head, "fLaC")) return "a FLAC file";
    if (startsWith(head, "OggS")) return "an Ogg file";
    // Text has no control characters but tabs and line ends; UTF-8 bytes above 127 are text.
    for (const char c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') return "binary data";
        if (byte == 0x7F) return "binary data";
    }
    return "";
}

std::string fileHead(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "";
    std::string head(kHeadBytes, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    return head;
}

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec) && !ec;
    const fs::path x = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path y = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return x.lexically_normal() == y.lexically_normal();
}

}  // namespace mvmhost
