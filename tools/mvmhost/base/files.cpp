#include "tools/mvmhost/base/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/user_text.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

constexpr int kMostLinkHops = 40;  // as the kernel follows at most

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// The file a name stands for once every symbolic link on the way is followed; the link's own
// name where the chain ends nowhere yet (a file is then made where it points).
fs::path throughLinks(const fs::path& path) {
    fs::path p = path;
    std::error_code ec;
    for (int hop = 0; hop < kMostLinkHops && fs::is_symlink(fs::symlink_status(p, ec)); ++hop) {
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p;
}

#if defined(_WIN32)
bool isStandardInput(const std::string&) { return false; }
bool keepAttributes(const std::string&, const std::string&) { return true; }
bool writable(const std::string&) { return false; }
int copyContent(const std::string&, const std::string&) { return EINVAL; }

class CommitLock {
public:
    explicit CommitLock(const std::vector<PendingFile*>&) {}
};
#else
bool isStandardInput(const std::string& path) {
    struct stat in {
    }, file{};
    return fstat(STDIN_FILENO, &in) == 0 && stat(path.c_str(), &file) == 0 &&
           in.st_dev == file.st_dev && in.st_ino == file.st_ino;
}

// Gives `to` the mode, owner and group of the regular file `from`, as far as this user may;
// answers whether owner and group are the same now (true when there is no such file).
bool keepAttributes(const std::string& from, const std::string& to) {
    struct stat old {};
    if (stat(from.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return true;
    // Owner first: a change of owner clears the mode's set-id bits, which are not kept anyway.
    if (chown(to.c_str(), old.st_uid, old.st_gid) != 0)
        (void)!chown(to.c_str(), static_cast<uid_t>(-1), old.st_gid);  // a group of one's own
    chmod(to.c_str(), old.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO));
    struct stat now {};
    return stat(to.c_str(), &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           old.st_nlink == 1;
}

bool writable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

// Writes the content of `from` over the file `to`, which keeps its inode; answers 0 or the
// errno of the failure. Room for the new length is taken first, so a full disk is found
// before a byte of the old content is gone.
int copyContent(const std::string& from, const std::string& to) {
    constexpr size_t kChunk = size_t{1} << 16;
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = open(to.c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        close(in);
        return error;
    }
    int error = 0;
    struct stat source {
    }, old{};
    if (fstat(in, &source) != 0 || fstat(out, &old) != 0) error = errno;
    if (!error && source.st_size > old.st_size) {
        error = posix_fallocate(out, old.st_size, source.st_size - old.st_size);
        if (error == EOPNOTSUPP || error == EINVAL) error = 0;  // a file system without it
        if (error && ftruncate(out, old.st_size) != 0) error = errno;
    }
    std::vector<char> chunk(error ? 0 : kChunk);
    for (off_t done = 0; !error && done < source.st_size;) {
        const ssize_t n = read(in, chunk.data(), chunk.size());
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        for (ssize_t put = 0; !error && put < n;) {
            const ssize_t m =
                pwrite(out, chunk.data() + put, static_cast<size_t>(n - put), done + put);
            if (m < 0 && errno != EINTR) error = errno;
            if (m > 0) put += m;
        }
        done += n;
    }
    if (!error && ftruncate(out, source.st_size) != 0) error = errno;
    if (close(out) != 0 && !error) error = errno;
    close(in);
    return error;
}

// An exclusive lock on the directory of every file, taken in one order by every process, so
// two commits of the same files follow one another. Where a file system has no locks, none.
class CommitLock {
public:
    explicit CommitLock(const std::vector<PendingFile*>& files) {
        std::vector<std::pair<std::pair<dev_t, ino_t>, std::string> > dirs;
        for (const PendingFile* file : files) {
            if (file->writtenDirectly()) continue;
            std::string dir = fs::path(file->tempPath()).parent_path().string();
            if (dir.empty()) dir = ".";
            struct stat s {};
            if (stat(dir.c_str(), &s) == 0) dirs.push_back({{s.st_dev, s.st_ino}, dir});
        }
        std::sort(dirs.begin(), dirs.end());
        for (size_t i = 0; i < dirs.size(); ++i) {
            if (i > 0 && dirs[i].first == dirs[i - 1].first) continue;
            const int fd = open(dirs[i].second.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) continue;
            while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
            held_.push_back(fd);
        }
    }
    ~CommitLock() {
        for (const int fd : held_) close(fd);  // which releases the lock
    }
    CommitLock(const CommitLock&) = delete;
    CommitLock& operator=(const CommitLock&) = delete;

private:
    std::vector<int> held_;
};
#endif

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
    // The form type after a chunk's tag and size; a file cut before it is still meant as one.
    const bool cut = head.size() < 12;
    const std::string_view form = cut ? std::string_view() : head.substr(8, 4);
    if ((startsWith(head, "RIFF") || startsWith(head, "RIFX") || startsWith(head, "RF64")) &&
        (cut || form == "WAVE"))
        return "a WAV file";
    if (startsWith(head, "FORM") && (form == "AIFF" || form == "AIFC")) return "an AIFF file";
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

bool isStandardStream(const std::string& path) { return path == "-"; }

std::string inputName(const std::string& path) {
    return isStandardStream(path) ? "standard input" : path;
}

void refuseOverwrites(const std::string& command, const std::vector<NamedOutput>& outputs,
                      const std::vector<std::string>& inputs) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        const NamedOutput& out = outputs[i];
        // Standard output replaces no file, whatever the names.
        if (!isStandardStream(out.path))
            for (const std::string& input : inputs)
                if (isStandardStream(input) ? isStandardInput(out.path) : sameFile(out.path, input))
                    throw Error(out.shown + " is an input of the " + command + " (" +
                                inputName(input) + "); write the outputs to another file");
        for (size_t j = 0; j < i; ++j) {
            const NamedOutput& other = outputs[j];
            if (isStandardStream(out.path) != isStandardStream(other.path)) continue;
            if (!sameFile(out.path, other.path)) continue;
            throw Error(out.shown == other.shown && out.path == other.path
                            ? out.shown + " is given twice"
                            : out.shown + " and " + other.shown + " are the same file");
        }
    }
}

std::string writeFailureWords(int error) {
    switch (error) {
    case 0:
        return "a write failed";
    case ENOSPC:
        return "the disk is full";
#if defined(EDQUOT)
    case EDQUOT:
        return "the disk quota is used up";
#endif
    case EFBIG:
        return "the file outgrew what this file system or the file size limit (ulimit -f) allows";
    case EIO:
        return "the disk reported an input/output error";
    default:
        return hostWords(std::strerror(error));
    }
}

PendingFile::PendingFile(std::string path) : path_(std::move(path)) {
    if (isStandardStream(path_)) {
        direct_ = true;
        return;
    }
    refuseDirectory("cannot write", path_);
    target_ = throughLinks(path_).string();
    std::error_code ec;
    const fs::file_status standing = fs::status(target_, ec);
    if (fs::exists(standing) && !fs::is_regular_file(standing)) {
        direct_ = true;  // /dev/null, a FIFO: never renamed over
        temp_ = target_;
        return;
    }
    temp_ = target_ + ".part" + std::to_string(processId());
    std::FILE* probe = std::fopen(temp_.c_str(), "wb");
    if (!probe) throw Error("cannot write " + path_ + ": " + std::strerror(errno));
    std::fclose(probe);
    // The content is no more open to others while it is written than the old file was.
    keepAttributes(target_, temp_);
}

PendingFile::~PendingFile() {
    std::error_code ec;
    if (!committed_ && !direct_) fs::remove(temp_, ec);
    if (!previous_.empty()) fs::remove(previous_, ec);
}

Error PendingFile::failure(int error) const {
    if (toStandardOutput())
        return Error("cannot write to standard output: " + writeFailureWords(error));
    std::error_code ec;
    const bool standing = !direct_ && fs::exists(target_, ec);
    return Error("cannot write " + path_ + ": " + writeFailureWords(error) +
                 (standing  ? "; the " + path_ + " that was there is kept as it was"
                  : direct_ ? ""
                            : "; nothing is left under that name"));
}

void PendingFile::commit() {
    if (direct_) {
        committed_ = true;
        return;
    }
    std::error_code ec;
    const fs::file_status standing = fs::symlink_status(target_, ec);
    const bool replacing = fs::exists(standing) && !fs::is_directory(standing);
    // Written into where renaming would split its links or change its owner; a file this user
    // may not write is renamed over as the directory allows, as before.
    inPlace_ = replacing && fs::is_regular_file(standing) && !keepAttributes(target_, temp_) &&
               writable(target_);
    if (inPlace_) {
        writeInto();
        committed_ = true;
        return;
    }
    if (replacing) {
        // A second name for the old file keeps its name filled throughout; where the file
        // system has no hard links, the old file moves aside for the moment of the rename.
        previous_ = target_ + ".old" + std::to_string(processId());
        fs::create_hard_link(target_, previous_, ec);
        if (ec) fs::rename(target_, previous_, ec);
        if (ec) {
            previous_.clear();
            throw Error("cannot write " + path_ + ": " + hostWords(ec.message()));
        }
    }
    fs::rename(temp_, target_, ec);
    if (ec) {
        restorePrevious();
        throw Error("cannot write " + path_ + ": " + hostWords(ec.message()));
    }
    committed_ = true;
}

void PendingFile::writeInto() {
    // A copy of what stood there, for withdraw(): the file itself is written over.
    std::error_code ec;
    previous_ = target_ + ".old" + std::to_string(processId());
    if (!fs::copy_file(target_, previous_, fs::copy_options::overwrite_existing, ec)) {
        fs::remove(previous_, ec);
        previous_.clear();
        throw failure(ec.value());
    }
    if (const int error = copyContent(temp_, target_)) {
        copyContent(previous_, target_);
        throw failure(error);
    }
    fs::remove(temp_, ec);
}

void PendingFile::withdraw() {
    if (!committed_ || direct_) return;
    std::error_code ec;
    if (previous_.empty()) fs::remove(target_, ec);
    restorePrevious();
    committed_ = false;
}

void PendingFile::restorePrevious() {
    if (previous_.empty()) return;
    std::error_code ec;
    if (inPlace_) {
        copyContent(previous_, target_);
        fs::remove(previous_, ec);
    } else {
        fs::rename(previous_, target_, ec);
    }
    previous_.clear();
}

void commitAll(const std::vector<PendingFile*>& files) {
    const CommitLock lock(files);
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            files[i]->commit();
        } catch (const Error&) {
            for (size_t j = 0; j < i; ++j) files[j]->withdraw();
            throw;
        }
    }
}

}  // namespace mvmhost
