// Files as people name them: opened with clear words for what is wrong, told apart however
// they are spelled, and recognised by what they hold rather than by their names.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mvmhost/base/error.h"

namespace mvmhost {

// Opens a file for reading in binary; throws Error saying why it cannot ("no such file",
// "it is a directory", "permission denied").
std::FILE* openForReading(const std::string& path);

// Throws Error "WHAT PATH: it is a directory" when the name is one: said before any word
// about the name's extension.
void refuseDirectory(const std::string& what, const std::string& path);

// What the first bytes of a file say it is when it is not text: "a WAV file", "an AIFF file",
// "a FLAC file", "an Ogg file", "binary data"; empty for text.
std::string binaryContent(std::string_view head);

// The name's extension in lower case, with its dot: ".csv"; empty when it has none.
std::string lowerExtension(const std::string& path);

// Whether two names are one file: the same device and inode when both exist, else the same
// path once made absolute and normal.
bool sameFile(const std::string& a, const std::string& b);

// "-": standard input where an input is named, standard output where an output is. A file of
// that name is still reached as "./-".
bool isStandardStream(const std::string& path);
// The name for messages: "standard input" for "-", else the path.
std::string inputName(const std::string& path);

// An output as the command line gave it: shown as "--out o.csv", "--json r.json" or
// "demo.csv in --out-dir d", and the path it writes.
struct NamedOutput {
    std::string shown;
    std::string path;
};
// Every file a command writes must be a file of its own: not one of its inputs (its module
// library included), not another of its outputs, however either is spelled or linked. Throws
// Error naming both; `command` says whose inputs ("render").
void refuseOverwrites(const std::string& command, const std::vector<NamedOutput>& outputs,
                      const std::vector<std::string>& inputs);

// Why a write failed, in a person's words: "the disk is full", "the disk quota is used up".
std::string writeFailureWords(int error);

// An output written under a temporary name beside it and put in place by commit(), so that
// nothing half-written ever stands under its name. Put in place, it keeps what the old file
// had: a symbolic link is written through (the file it points to gets the content), and the
// old file's mode, owner and group stay, where this user may set them. A file with other hard
// links, or whose owner could not be kept, is written into, once the content is complete, so
// its links stay joined; everything else is renamed into place. Until dropped, what stood
// there is kept so that withdraw() can bring it back. "-" is standard output, written as it
// comes, and so are devices and FIFOs: commit() and withdraw() do nothing for them.
class PendingFile {
public:
    // Throws Error when the file cannot be created there.
    explicit PendingFile(std::string path);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& path() const { return path_; }
    // Where the content goes until commit(); empty for standard output.
    // Where the content goes until commit(): beside the file; the file itself where it is no
    // regular file (/dev/null, a FIFO); empty for standard output.
    const std::string& tempPath() const { return temp_; }
    bool toStandardOutput() const { return direct_ && temp_.empty(); }
    // Standard output, a device or a FIFO: written as it comes, nothing to put in place.
    bool writtenDirectly() const { return direct_; }
    void commit();
    // Puts back what stood under the name before commit(), for a run whose other files failed.
    void withdraw();
    // The Error for a write that failed with `error` (an errno value): which file, why, and
    // that a file standing under the name is kept as it was.
    Error failure(int error) const;

private:
    void writeInto();  // the content copied into the existing file, for commit()
    void restorePrevious();

    std::string path_;      // as named
    std::string target_;    // the file it names, through symbolic links
    std::string temp_;      // the content, beside the target
    std::string previous_;  // what stood there, while commit() may yet be withdrawn
    bool direct_ = false;
    bool inPlace_ = false;  // committed by writing into the old file rather than renaming
    bool committed_ = false;
};

// Puts files completed under their temporary names in place, all of them or none: when one
// cannot be, those already placed are withdrawn and Error says which could not. Commits of
// the same files by two processes at once follow one another, so that the files of one run
// are never mixed with another's.
void commitAll(const std::vector<PendingFile*>& files);

}  // namespace mvmhost
