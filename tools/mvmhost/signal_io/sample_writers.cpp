#include "tools/mvmhost/signal_io/sample_writers.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/signal_io/csv.h"

#if defined(_WIN32)
#include <process.h>
#define MVMHOST_GETPID _getpid
#else
#include <unistd.h>
#define MVMHOST_GETPID getpid
#endif

#if defined(MVMHOST_AUDIO)
#include <sndfile.h>
#endif

namespace mvmhost {
namespace {

class CsvWriter : public SampleWriter {
public:
    CsvWriter(const std::string& path, const std::vector<std::string>& names)
        : file_(path), row_(names.size() * (kSampleTextMax + 1) + 1) {
        // Binary: the same bytes on every platform, line feeds included.
        out_ = std::fopen(file_.tempPath().c_str(), "wb");
        if (!out_) throw Error("cannot write " + path + ": " + std::strerror(errno));
        const std::string header = csvHeader(names) + "\n";
        std::fwrite(header.data(), 1, header.size(), out_);
    }
    ~CsvWriter() override {
        if (out_) std::fclose(out_);
    }
    void write(const float* const* columns, int32_t count) override {
        const size_t width = row_.size() / (kSampleTextMax + 1);
        for (int32_t i = 0; i < count; ++i) {
            char* p = row_.data();
            for (size_t c = 0; c < width; ++c) {
                if (c > 0) *p++ = ',';
                p = formatSample(p, columns[c][i]);
            }
            *p++ = '\n';
            std::fwrite(row_.data(), 1, static_cast<size_t>(p - row_.data()), out_);
        }
    }
    void complete() override {
        const bool failed = std::ferror(out_) != 0;
        const bool closed = std::fclose(out_) == 0;
        out_ = nullptr;
        if (failed || !closed)
            throw Error("cannot write " + file_.path() + ": the disk refused it");
    }
    PendingFile& file() override { return file_; }

private:
    PendingFile file_;
    std::FILE* out_ = nullptr;
    std::vector<char> row_;  // one row's text; sized for the widest numbers up front
};

#if defined(MVMHOST_AUDIO)
class WavWriter : public SampleWriter {
public:
    WavWriter(const std::string& path, size_t channels, int32_t sampleRate, int32_t maxBlock)
        : file_(path), frames_(channels * static_cast<size_t>(maxBlock)), channels_(channels) {
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = static_cast<int>(channels);
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        out_ = sf_open(file_.tempPath().c_str(), SFM_WRITE, &info);
        if (!out_) throw Error("cannot write " + path + ": " + hostWords(sf_strerror(nullptr)));
    }
    ~WavWriter() override {
        if (out_) sf_close(out_);
    }
    void write(const float* const* columns, int32_t count) override {
        for (int32_t i = 0; i < count; ++i)
            for (size_t c = 0; c < channels_; ++c)
                frames_[static_cast<size_t>(i) * channels_ + c] = columns[c][i];
        if (sf_writef_float(out_, frames_.data(), count) != count) failed_ = true;
    }
    void complete() override {
        const bool closed = sf_close(out_) == 0;
        out_ = nullptr;
        if (failed_ || !closed)
            throw Error("cannot write " + file_.path() + ": the disk refused it");
    }
    PendingFile& file() override { return file_; }

private:
    PendingFile file_;
    SNDFILE* out_ = nullptr;
    std::vector<float> frames_;  // one block, interleaved
    size_t channels_;
    bool failed_ = false;
};
#endif

}  // namespace

PendingFile::PendingFile(std::string path)
    : path_(std::move(path)), temp_(path_ + ".part" + std::to_string(MVMHOST_GETPID())) {
    refuseDirectory("cannot write", path_);
    std::FILE* probe = std::fopen(temp_.c_str(), "wb");
    if (!probe) throw Error("cannot write " + path_ + ": " + std::strerror(errno));
    std::fclose(probe);
}

PendingFile::~PendingFile() {
    std::error_code ec;
    if (!committed_) std::filesystem::remove(temp_, ec);
    if (!previous_.empty()) std::filesystem::remove(previous_, ec);
}

void PendingFile::commit() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status standing = fs::symlink_status(path_, ec);
    if (fs::exists(standing) && !fs::is_directory(standing)) {
        // A second name for the old file keeps its name filled throughout; where the file
        // system has no hard links, the old file moves aside for the moment of the rename.
        previous_ = path_ + ".old" + std::to_string(MVMHOST_GETPID());
        fs::create_hard_link(path_, previous_, ec);
        if (ec) fs::rename(path_, previous_, ec);
        if (ec) {
            previous_.clear();
            throw Error("cannot write " + path_ + ": " + ec.message());
        }
    }
    fs::rename(temp_, path_, ec);
    if (ec) {
        restorePrevious();
        throw Error("cannot write " + path_ + ": " + ec.message());
    }
    committed_ = true;
}

void PendingFile::withdraw() {
    if (!committed_) return;
    std::error_code ec;
    if (previous_.empty()) std::filesystem::remove(path_, ec);
    restorePrevious();
}

void PendingFile::restorePrevious() {
    std::error_code ec;
    if (!previous_.empty()) std::filesystem::rename(previous_, path_, ec);
    previous_.clear();
}

void SampleWriter::finish() {
    complete();
    file().commit();
}

void commitAll(const std::vector<PendingFile*>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            files[i]->commit();
        } catch (const Error&) {
            for (size_t j = 0; j < i; ++j) files[j]->withdraw();
            throw;
        }
    }
}

std::unique_ptr<SampleWriter> openSampleWriter(const std::string& path,
                                               const std::vector<std::string>& names,
                                               int32_t sampleRate, int32_t maxBlock) {
    refuseDirectory("cannot write", path);
    const std::string ext = lowerExtension(path);
    if (ext == ".csv") return std::make_unique<CsvWriter>(path, names);
    if (ext == ".wav") {
#if defined(MVMHOST_AUDIO)
        return std::make_unique<WavWriter>(path, names.size(), sampleRate, maxBlock);
#else
        (void)sampleRate;
        (void)maxBlock;
        throw Error("cannot write " + path + ": this build writes CSV files only");
#endif
    }
#if defined(MVMHOST_AUDIO)
    throw Error("cannot write " + path + ": name it .csv or .wav");
#else
    throw Error("cannot write " + path + ": name it .csv");
#endif
}

}  // namespace mvmhost
