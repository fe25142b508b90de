#include "WavFile.h"

#include "FileIo.h"

#include <cmath>
#include <cstring>

namespace velmorant::host {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 768000;

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct FormatChunk {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

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
    if (fmt.tag == kFormatPcm && fmt.bitsPerSample == 16) {
        format = SampleFormat::Int16;
    } else if (fmt.tag == kFormatPcm && fmt.bitsPerSample == 24) {
        format = SampleFormat::Int24;
    } else if (fmt.tag == kFormatFloat && fmt.bitsPerSample == 32) {
        format = SampleFormat::Float32;
    } else {
        error = "unsupported sample format (format tag " + std::to_string(fmt.tag) + ", " +
                std::to_string(fmt.bitsPerSample) +
                " bits); supported: 16- or 24-bit integer PCM, 32-bit float";
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
    case SampleFormat::Float32: {
        float value;
        const uint32_t bits = readU32(p);
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    }
    return 0.0f;
}

void decodeFrames(const uint8_t* data, size_t frames, SampleFormat format, WavAudio& audio) {
    const size_t width = format == SampleFormat::Int16 ? 2 : format == SampleFormat::Int24 ? 3 : 4;
    const size_t channelCount = audio.channels.size();
    for (auto& channel : audio.channels) channel.resize(frames);
    for (size_t frame = 0; frame < frames; ++frame)
        for (size_t c = 0; c < channelCount; ++c) {
            audio.channels[c][frame] = decodeSample(data + (frame * channelCount + c) * width, format);
        }
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

void encodeSample(std::vector<uint8_t>& out, float sample, SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16:
        putU16(out, static_cast<uint32_t>(quantise(sample, 32768.0f, -32768, 32767)));
        break;
    case SampleFormat::Int24:
        putU24(out, static_cast<uint32_t>(quantise(sample, 8388608.0f, -8388608, 8388607)));
        break;
    case SampleFormat::Float32: {
        uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);
        putU32(out, bits);
        break;
    }
    }
}

std::vector<uint8_t> encode(const WavAudio& audio) {
    const bool isFloat = audio.format == SampleFormat::Float32;
    const uint32_t width = audio.format == SampleFormat::Int16 ? 2 : audio.format == SampleFormat::Int24 ? 3 : 4;
    const auto channelCount = static_cast<uint32_t>(audio.channels.size());
    const auto frames = static_cast<uint32_t>(audio.frameCount());
    const uint32_t dataBytes = frames * channelCount * width;
    const uint32_t fmtBytes = isFloat ? 18 : 16;
    const uint32_t factBytes = isFloat ? 12 : 0;
    const uint32_t riffBytes = 4 + (8 + fmtBytes) + factBytes + 8 + dataBytes + (dataBytes & 1);

    std::vector<uint8_t> out;
    out.reserve(riffBytes + 8);
    putTag(out, "RIFF");
    putU32(out, riffBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, fmtBytes);
    putU16(out, isFloat ? kFormatFloat : kFormatPcm);
    putU16(out, channelCount);
    putU32(out, audio.sampleRate);
    putU32(out, audio.sampleRate * channelCount * width);
    putU16(out, channelCount * width);
    putU16(out, width * 8);
    if (isFloat) {
        putU16(out, 0);
        putTag(out, "fact");
        putU32(out, 4);
        putU32(out, frames);
    }
    putTag(out, "data");
    putU32(out, dataBytes);
    for (uint32_t frame = 0; frame < frames; ++frame)
        for (const auto& channel : audio.channels) encodeSample(out, channel[frame], audio.format);
    if (dataBytes & 1) out.push_back(0);
    return out;
}

}  // namespace

const char* formatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16: return "16-bit integer";
    case SampleFormat::Int24: return "24-bit integer";
    case SampleFormat::Float32: return "32-bit float";
    }
    return "?";
}

bool readWav(const std::string& path, WavAudio& audio, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, error)) return false;
    const auto fail = [&](const std::string& reason) {
        error = path + ": " + reason;
        return false;
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return fail("not a RIFF/WAVE file");

    FormatChunk fmt;
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const uint8_t* header = bytes.data() + pos;
        const uint32_t size = readU32(header + 4);
        const size_t remaining = bytes.size() - pos - 8;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (size > remaining) return fail("the fmt chunk is truncated");
            if (!parseFormat(header + 8, size, fmt, error) || !chooseFormat(fmt, audio.format, error))
                return fail(error);
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) return fail("the data chunk comes before the fmt chunk");
            if (size > remaining) return fail("the data chunk is truncated");
            audio.sampleRate = fmt.sampleRate;
            audio.channels.assign(fmt.channels, {});
            decodeFrames(header + 8, size / fmt.blockAlign, audio.format, audio);
            return true;
        }
        pos += 8 + static_cast<size_t>(size) + (size & 1);
    }
    return fail(haveFormat ? "no data chunk" : "no fmt chunk");
}

bool writeWav(const std::string& path, const WavAudio& audio, std::string& error) {
    if (audio.channels.empty() || audio.channels.size() > 2) {
        error = path + ": only mono or stereo can be written";
        return false;
    }
    const uint64_t width = audio.format == SampleFormat::Int16 ? 2 : audio.format == SampleFormat::Int24 ? 3 : 4;
    if (audio.frameCount() * audio.channels.size() * width > 0xFFFFFF00ull) {
        error = path + ": too long for a WAV file (4 GiB limit)";
        return false;
    }
    return writeOutputFile(path, encode(audio), error);
}

}  // namespace velmorant::host
