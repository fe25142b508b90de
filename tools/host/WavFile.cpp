#include "WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

namespace velmorant::host {

// The fields of a fmt chunk that the reader uses.
struct WavReader::FormatChunk {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

namespace {

using FormatChunk = WavReader::FormatChunk;

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 768000;
constexpr uint32_t kStreamedSize = 0xFFFFFFFF;  // or 0 at the end: a writer that streamed never came back to it
constexpr uint64_t kMostDataBytes = 0xFFFFFF00;  // the RIFF sizes are 32 bits
constexpr size_t kFmtBytesRead = 40;             // the extensible fmt chunk; the rest is skipped

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t readU64(const uint8_t* p) { return static_cast<uint64_t>(readU32(p)) | (static_cast<uint64_t>(readU32(p + 4)) << 32); }

size_t sampleWidth(SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16: return 2;
    case SampleFormat::Int24: return 3;
    case SampleFormat::Int32:
    case SampleFormat::Float32: return 4;
    case SampleFormat::Float64: return 8;
    }
    return 0;
}

bool parseFormat(const uint8_t* p, uint32_t size, FormatChunk& fmt, std::string& error) {
    if (size < 16) {
        error = "the fmt chunk is too short";
        return false;
    }
    fmt.tag = readU16(p);
    fmt.channels = readU16(p + 2);
    fmt.sampleRate = readU32(p + 4);
    fmt.blockAlign = readU16(p + 12);
    fmt.bitsPerSample = readU16(p + 14);
    if (fmt.tag == kFormatExtensible) {
        if (size < 40) {
            error = "the extensible fmt chunk is too short";
            return false;
        }
        fmt.tag = readU16(p + 24);  // the first two bytes of the sub-format GUID
    }
    return true;
}

bool chooseFormat(const FormatChunk& fmt, SampleFormat& format, std::string& error) {
    const bool pcm = fmt.tag == kFormatPcm, isFloat = fmt.tag == kFormatFloat;
    if (pcm && fmt.bitsPerSample == 16) {
        format = SampleFormat::Int16;
    } else if (pcm && fmt.bitsPerSample == 24) {
        format = SampleFormat::Int24;
    } else if (pcm && fmt.bitsPerSample == 32) {
        format = SampleFormat::Int32;
    } else if (isFloat && fmt.bitsPerSample == 32) {
        format = SampleFormat::Float32;
    } else if (isFloat && fmt.bitsPerSample == 64) {
        format = SampleFormat::Float64;
    } else {
        error = "unsupported sample format (format tag " + std::to_string(fmt.tag) + ", " +
                std::to_string(fmt.bitsPerSample) +
                " bits); supported: 16-, 24- or 32-bit integer PCM, 32- or 64-bit float";
        return false;
    }
    if (fmt.channels != 1 && fmt.channels != 2) {
        error = "unsupported channel count " + std::to_string(fmt.channels) + " (mono or stereo only)";
        return false;
    }
    if (fmt.sampleRate < kMinRate || fmt.sampleRate > kMaxRate) {
        error = "unsupported sample rate " + std::to_string(fmt.sampleRate) + " Hz";
        return false;
    }
    if (fmt.blockAlign != fmt.channels * (fmt.bitsPerSample / 8)) {
        error = "inconsistent block alignment " + std::to_string(fmt.blockAlign);
        return false;
    }
    return true;
}

// A double as the nearest float, beyond float's range an infinity (the conversion itself would be
// undefined there).
float narrowed(double value) {
    constexpr auto kLargest = static_cast<double>(std::numeric_limits<float>::max());
    if (value > kLargest) return std::numeric_limits<float>::infinity();
    if (value < -kLargest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

float decodeSample(const uint8_t* p, SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16:
        return static_cast<float>(static_cast<int16_t>(readU16(p))) / 32768.0f;
    case SampleFormat::Int24: {
        const uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                             (static_cast<uint32_t>(p[2]) << 16);
        const int32_t value = raw >= 0x800000u ? static_cast<int32_t>(raw) - 0x1000000 : static_cast<int32_t>(raw);
        return static_cast<float>(value) / 8388608.0f;
    }
    case SampleFormat::Int32: {
        int32_t value;
        const uint32_t bits = readU32(p);
        std::memcpy(&value, &bits, sizeof value);
        return static_cast<float>(static_cast<double>(value) / 2147483648.0);
    }
    case SampleFormat::Float32: {
        float value;
        const uint32_t bits = readU32(p);
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case SampleFormat::Float64: {
        double value;
        const uint64_t bits = readU64(p);
        std::memcpy(&value, &bits, sizeof value);
        return narrowed(value);
    }
    }
    return 0.0f;
}

int32_t quantise(float sample, float scale, int32_t lowest, int32_t highest) {
    if (!std::isfinite(sample)) return sample > 0 ? highest : sample < 0 ? lowest : 0;
    const double scaled = std::nearbyint(static_cast<double>(sample) * static_cast<double>(scale));
    if (scaled < lowest) return lowest;
    if (scaled > highest) return highest;
    return static_cast<int32_t>(scaled);
}

void putU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void putU24(std::vector<uint8_t>& out, uint32_t v) {
    putU16(out, v);
    out.push_back(static_cast<uint8_t>(v >> 16));
}
void putU32(std::vector<uint8_t>& out, uint32_t v) {
    putU16(out, v);
    putU16(out, v >> 16);
}
void putTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

// Only the written formats reach here.
void encodeSample(std::vector<uint8_t>& out, float sample, SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16:
        putU16(out, static_cast<uint32_t>(quantise(sample, 32768.0f, -32768, 32767)));
        break;
    case SampleFormat::Int24:
        putU24(out, static_cast<uint32_t>(quantise(sample, 8388608.0f, -8388608, 8388607)));
        break;
    default: {
        uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);
        putU32(out, bits);
        break;
    }
    }
}

std::string systemReason(const char* what, int errorNumber) {
    return std::string(what) + " (" + std::strerror(errorNumber) + ")";
}

}  // namespace

SampleFormat writtenFormat(SampleFormat format) {
    return format == SampleFormat::Int16 || format == SampleFormat::Int24 ? format : SampleFormat::Float32;
}

const char* formatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16: return "16-bit integer";
    case SampleFormat::Int24: return "24-bit integer";
    case SampleFormat::Int32: return "32-bit integer";
    case SampleFormat::Float32: return "32-bit float";
    case SampleFormat::Float64: return "64-bit float";
    }
    return "?";
}

WavReader::~WavReader() { close(); }

void WavReader::close() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
}

bool WavReader::fail(const std::string& reason) {
    error_ = path_ + ": " + reason;
    close();
    return false;
}

bool WavReader::readBytes(uint8_t* bytes, size_t size) {
    const size_t got = std::fread(bytes, 1, size, stream_);
    position_ += got;
    if (got < size && std::ferror(stream_)) error_ = path_ + ": " + systemReason("read failed", errno);
    return got == size;
}

bool WavReader::skipBytes(uint64_t size) {
    uint8_t block[4096];
    for (uint64_t left = size; left > 0;) {
        const auto step = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
        if (!readBytes(block, step)) return false;
        left -= step;
    }
    return true;
}

bool WavReader::open(const std::string& path, std::string& error) {
    close();
    path_ = path;
    error_.clear();
    position_ = framesRead_ = 0;
    lookahead_.clear();
    frameCount_.reset();
    fileSize_.reset();
    stream_ = std::fopen(path.c_str(), "rb");
    std::string refusal = stream_ == nullptr ? systemReason("cannot open", errno) : std::string();
    std::error_code failure;
    if (stream_ != nullptr && std::filesystem::is_regular_file(path, failure)) {
        const uintmax_t size = std::filesystem::file_size(path, failure);
        if (!failure) fileSize_ = size;
    }
    if (stream_ != nullptr) refusal = readUpToSamples();
    if (refusal.empty()) return true;
    if (error_.empty()) fail(refusal);  // a read error is the reason where there was one
    close();
    error = error_;
    return false;
}

std::string WavReader::readUpToSamples() {
    uint8_t riff[12];
    if (!readBytes(riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return "not a RIFF/WAVE file";
    FormatChunk fmt;
    bool haveFormat = false;
    for (;;) {
        uint8_t header[8];
        if (!readBytes(header, sizeof header)) return haveFormat ? "no data chunk" : "no fmt chunk";
        const uint32_t size = readU32(header + 4);
        const std::optional<uint64_t> remaining =
            fileSize_ ? std::optional<uint64_t>(*fileSize_ - std::min(*fileSize_, position_)) : std::nullopt;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            const std::string refusal = readFormat(size, remaining, fmt);
            if (!refusal.empty()) return refusal;
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            return haveFormat ? startSamples(fmt, size, remaining) : "the data chunk comes before the fmt chunk";
        } else if (!skipBytes(static_cast<uint64_t>(size) + (size & 1))) {
            return haveFormat ? "no data chunk" : "no fmt chunk";
        }
    }
}

std::string WavReader::readFormat(uint32_t size, std::optional<uint64_t> remaining, FormatChunk& fmt) {
    if (remaining && size > *remaining) return "the fmt chunk is truncated";
    uint8_t body[kFmtBytesRead] = {};
    const size_t bodyBytes = std::min<size_t>(size, sizeof body);
    if (!readBytes(body, bodyBytes)) return "the fmt chunk is truncated";
    std::string refusal;
    if (!parseFormat(body, size, fmt, refusal) || !chooseFormat(fmt, shape_.format, refusal)) return refusal;
    return skipBytes(size - bodyBytes + (size & 1)) ? std::string() : "no data chunk";
}

bool WavReader::chunkFollows(std::optional<uint64_t> remaining) {
    uint8_t header[8];
    const size_t got = std::fread(header, 1, sizeof header, stream_);
    lookahead_.assign(header, header + got);
    if (got < sizeof header) return false;
    const bool named = std::all_of(header, header + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
    const uint64_t size = readU32(header + 4);
    return named && (!remaining || size + sizeof header <= *remaining);
}

size_t WavReader::readSampleBytes(uint8_t* bytes, size_t size) {
    const size_t kept = std::min(size, lookahead_.size());
    std::copy_n(lookahead_.begin(), kept, bytes);
    lookahead_.erase(lookahead_.begin(), lookahead_.begin() + static_cast<long>(kept));
    return kept + std::fread(bytes + kept, 1, size - kept, stream_);
}

std::string WavReader::startSamples(const FormatChunk& fmt, uint32_t size, std::optional<uint64_t> remaining) {
    const bool streamed = size == kStreamedSize || (size == 0 && !chunkFollows(remaining));
    if (!streamed && remaining && size > *remaining) return "the data chunk is truncated";
    shape_.sampleRate = fmt.sampleRate;
    shape_.channelCount = fmt.channels;
    frameBytes_ = fmt.blockAlign;
    if (!streamed) frameCount_ = size / frameBytes_;
    else if (remaining) frameCount_ = *remaining / frameBytes_;
    return {};
}

size_t WavReader::read(float* const* channels, size_t frames) {
    if (stream_ == nullptr) return 0;
    if (frameCount_) frames = static_cast<size_t>(std::min<uint64_t>(frames, *frameCount_ - framesRead_));
    if (frames == 0) return 0;
    buffer_.resize(frames * frameBytes_);
    const size_t got = readSampleBytes(buffer_.data(), buffer_.size());
    if (got < buffer_.size()) {
        if (std::ferror(stream_)) {
            fail(systemReason("read failed", errno));
            return 0;
        }
        if (frameCount_) {
            fail("the data chunk is truncated");
            return 0;
        }
    }
    const size_t count = got / frameBytes_;  // a streamed chunk's last partial frame is dropped
    const size_t width = sampleWidth(shape_.format);
    for (size_t frame = 0; frame < count; ++frame)
        for (size_t c = 0; c < shape_.channelCount; ++c)
            channels[c][frame] = decodeSample(buffer_.data() + frame * frameBytes_ + c * width, shape_.format);
    framesRead_ += count;
    return count;
}

bool WavWriter::open(const std::string& path, const WavShape& shape, std::optional<uint64_t> frames,
                     std::string& error) {
    path_ = path;
    shape_ = shape;
    shape_.format = writtenFormat(shape.format);
    framesWritten_ = 0;
    if (shape_.channelCount < 1 || shape_.channelCount > 2) {
        error = path + ": only mono or stereo can be written";
        return false;
    }
    if (frames && *frames * shape_.channelCount * sampleWidth(shape_.format) > kMostDataBytes) {
        error = path + ": too long for a WAV file (4 GiB limit)";
        return false;
    }
    const std::vector<uint8_t> bytes = header(frames);
    return file_.open(path, error) && file_.write(bytes.data(), bytes.size(), error);
}

std::vector<uint8_t> WavWriter::header(std::optional<uint64_t> frames) const {
    const bool isFloat = shape_.format == SampleFormat::Float32;
    const auto width = static_cast<uint32_t>(sampleWidth(shape_.format));
    const auto channelCount = static_cast<uint32_t>(shape_.channelCount);
    const uint32_t fmtBytes = isFloat ? 18 : 16;
    const uint32_t factBytes = isFloat ? 12 : 0;
    uint32_t frameField = kStreamedSize, dataBytes = kStreamedSize, riffBytes = kStreamedSize;
    if (frames) {
        frameField = static_cast<uint32_t>(*frames);
        dataBytes = frameField * channelCount * width;
        riffBytes = 4 + (8 + fmtBytes) + factBytes + 8 + dataBytes + (dataBytes & 1);
    }
    std::vector<uint8_t> out;
    putTag(out, "RIFF");
    putU32(out, riffBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, fmtBytes);
    putU16(out, isFloat ? kFormatFloat : kFormatPcm);
    putU16(out, channelCount);
    putU32(out, shape_.sampleRate);
    putU32(out, shape_.sampleRate * channelCount * width);
    putU16(out, channelCount * width);
    putU16(out, width * 8);
    if (isFloat) {
        putU16(out, 0);
        putTag(out, "fact");
        putU32(out, 4);
        putU32(out, frameField);
    }
    putTag(out, "data");
    putU32(out, dataBytes);
    return out;
}

bool WavWriter::write(const float* const* channels, size_t frames, std::string& error) {
    const size_t frameBytes = shape_.channelCount * sampleWidth(shape_.format);
    if ((framesWritten_ + frames) * frameBytes > kMostDataBytes) {
        error = path_ + ": too long for a WAV file (4 GiB limit)";
        file_.discard();
        return false;
    }
    buffer_.clear();
    for (size_t frame = 0; frame < frames; ++frame)
        for (size_t c = 0; c < shape_.channelCount; ++c) encodeSample(buffer_, channels[c][frame], shape_.format);
    framesWritten_ += frames;
    return file_.write(buffer_.data(), buffer_.size(), error);
}

bool WavWriter::commit(std::string& error) {
    const uint64_t dataBytes = framesWritten_ * shape_.channelCount * sampleWidth(shape_.format);
    const uint8_t pad = 0;
    if ((dataBytes & 1) != 0 && !file_.write(&pad, 1, error)) return false;
    if (file_.isRewritable()) {
        const std::vector<uint8_t> bytes = header(framesWritten_);
        if (!file_.rewrite(0, bytes.data(), bytes.size(), error)) return false;
    }
    return file_.commit(error);
}

bool readWav(const std::string& path, WavAudio& audio, std::string& error) {
    WavReader reader;
    if (!reader.open(path, error)) return false;
    audio.sampleRate = reader.shape().sampleRate;
    audio.format = reader.shape().format;
    audio.channels.assign(reader.shape().channelCount, {});
    constexpr size_t kBlock = 1 << 16;
    std::vector<std::vector<float>> block(audio.channels.size(), std::vector<float>(kBlock));
    std::vector<float*> pointers;
    for (auto& channel : block) pointers.push_back(channel.data());
    while (const size_t got = reader.read(pointers.data(), kBlock))
        for (size_t c = 0; c < block.size(); ++c)
            audio.channels[c].insert(audio.channels[c].end(), block[c].begin(), block[c].begin() + static_cast<long>(got));
    error = reader.error();
    return error.empty();
}

bool writeWav(const std::string& path, const WavAudio& audio, std::string& error) {
    WavWriter writer;
    WavShape shape{audio.sampleRate, audio.format, audio.channels.size()};
    if (!writer.open(path, shape, audio.frameCount(), error)) return false;
    constexpr size_t kBlock = 1 << 16;
    std::vector<const float*> pointers(audio.channels.size());
    for (size_t first = 0; first < audio.frameCount(); first += kBlock) {
        for (size_t c = 0; c < pointers.size(); ++c) pointers[c] = audio.channels[c].data() + first;
        if (!writer.write(pointers.data(), std::min(kBlock, audio.frameCount() - first), error)) return false;
    }
    return writer.commit(error);
}

}  // namespace velmorant::host
