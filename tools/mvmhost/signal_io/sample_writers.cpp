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
#include <fcntl.h>
#include <io.h>
#endif

#if defined(MVMHOST_AUDIO)
#include <sndfile.h>
#endif

namespace mvmhost {
namespace {

#if defined(MVMHOST_AUDIO)
constexpr int kWavFormat = SF_FORMAT_RF64 | SF_FORMAT_FLOAT;
#endif

class CsvWriter : public SampleWriter {
public:
    CsvWriter(const std::string& path, const std::vector<std::string>& names)
        : file_(path), row_(names.size() * (kSampleTextMax + 1) + 1) {
        if (file_.toStandardOutput()) {
#if defined(_WIN32)
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            out_ = stdout;
        } else {
            // Binary: the same bytes on every platform, line feeds included.
            out_ = std::fopen(file_.tempPath().c_str(), "wb");
            if (!out_) throw Error("cannot write " + path + ": " + std::strerror(errno));
        }
        const std::string header = csvHeader(names) + "\n";
        put(header.data(), header.size());
    }
    ~CsvWriter() override {
        if (out_ && out_ != stdout) std::fclose(out_);
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
            put(row_.data(), static_cast<size_t>(p - row_.data()));
        }
    }
    void complete() override {
        const bool flushed = std::fflush(out_) == 0;
        if (!flushed && !error_) error_ = errno;
        if (out_ != stdout && std::fclose(out_) != 0 && !error_) error_ = errno;
        out_ = nullptr;
        if (failed_ || !flushed) throw file_.failure(error_);
    }
    PendingFile& file() override { return file_; }

private:
    void put(const char* bytes, size_t size) {
        if (std::fwrite(bytes, 1, size, out_) == size || failed_) return;
        failed_ = true;
        error_ = errno;
    }

    PendingFile file_;
    std::FILE* out_ = nullptr;
    std::vector<char> row_;  // one row's text; sized for the widest numbers up front
    bool failed_ = false;
    int error_ = 0;  // errno of the first write that failed
};

#if defined(MVMHOST_AUDIO)
constexpr size_t kMaxWavChannels = 1024;  // libsndfile's own limit

class WavWriter : public SampleWriter {
public:
    WavWriter(const std::string& path, size_t channels, int32_t sampleRate, int32_t maxBlock)
        : file_(path), frames_(channels * static_cast<size_t>(maxBlock)), channels_(channels) {
        if (channels > kMaxWavChannels)
            throw Error("cannot write " + path + ": a WAV file this host writes holds at most " +
                        std::to_string(kMaxWavChannels) + " channels, not " +
                        std::to_string(channels) + "; write CSV");
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = static_cast<int>(channels);
        info.format = kWavFormat;
        out_ = sf_open(file_.tempPath().c_str(), SFM_WRITE, &info);
        if (!out_) throw Error("cannot write " + path + ": " + hostWords(sf_strerror(nullptr)));
        // Plain RIFF while the file stays under the 4 GiB its sizes can count; RF64 beyond.
        sf_command(out_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    }
    ~WavWriter() override {
        if (out_) sf_close(out_);
    }
    void write(const float* const* columns, int32_t count) override {
        for (int32_t i = 0; i < count; ++i)
            for (size_t c = 0; c < channels_; ++c)
                frames_[static_cast<size_t>(i) * channels_ + c] = columns[c][i];
        if (sf_writef_float(out_, frames_.data(), count) == count || failed_) return;
        failed_ = true;
        error_ = errno;
    }
    void complete() override {
        errno = 0;
        const bool closed = sf_close(out_) == 0;
        if (!closed && !error_) error_ = errno;
        out_ = nullptr;
        if (failed_ || !closed) throw file_.failure(error_);
    }
    PendingFile& file() override { return file_; }

private:
    PendingFile file_;
    SNDFILE* out_ = nullptr;
    std::vector<float> frames_;  // one block, interleaved
    size_t channels_;
    bool failed_ = false;
    int error_ = 0;  // errno of the first write that failed
};
#endif

}  // namespace

void SampleWriter::finish() {
    complete();
    file().commit();
}

std::unique_ptr<SampleWriter> openSampleWriter(const std::string& path,
                                               const std::vector<std::string>& names,
                                               int32_t sampleRate, int32_t maxBlock) {
    refuseDirectory("cannot write", path);
    const std::string ext = lowerExtension(path);
    std::error_code ec;
    const std::filesystem::file_status standing = std::filesystem::status(path, ec);
    // Standard output, /dev/null or a FIFO take text: no extension to go by there.
    const bool stream = isStandardStream(path) || (std::filesystem::exists(standing) &&
                                                   !std::filesystem::is_regular_file(standing));
    if (ext == ".csv" || stream) return std::make_unique<CsvWriter>(path, names);
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
