// WAV reading and writing: hand-made files as the oracle for decoding, round trips for encoding.

#include "FileIo.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace velmorant::host;

namespace {

std::string temporaryPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("velmorant-wav-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v);
    put16(out, v >> 16);
}
void putTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

// A WAV file with the given fmt chunk body and data bytes.
std::vector<uint8_t> wavBytes(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data,
                              uint32_t declaredDataSize) {
    std::vector<uint8_t> out;
    putTag(out, "RIFF");
    put32(out, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
    putTag(out, "WAVE");
    putTag(out, "LIST");  // an unrelated chunk of odd size, padded, before fmt
    put32(out, 3);
    for (uint8_t byte : {'a', 'b', 'c', '\0'}) out.push_back(byte);
    putTag(out, "fmt ");
    put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    putTag(out, "data");
    put32(out, declaredDataSize);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> fmt;
    put16(fmt, tag);
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * channels * bits / 8);
    put16(fmt, static_cast<uint16_t>(channels * bits / 8));
    put16(fmt, bits);
    return fmt;
}

bool readBytes(const std::vector<uint8_t>& bytes, WavAudio& audio, std::string& error) {
    const std::string path = temporaryPath("in.wav");
    EXPECT_TRUE(writeOutputFile(path, bytes, error)) << error;
    const bool ok = readWav(path, audio, error);
    std::filesystem::remove(path);
    return ok;
}

TEST(WavFile, Decodes24BitStereoExactly) {
    const std::vector<uint8_t> data = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80,   // frame 0: max, min
                                       0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF};  // frame 1: +1, -1 step
    WavAudio audio;
    std::string error;
    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 96000, 24), data, 12), audio, error)) << error;
    EXPECT_EQ(audio.sampleRate, 96000u);
    EXPECT_EQ(audio.format, SampleFormat::Int24);
    ASSERT_EQ(audio.channels.size(), 2u);
    EXPECT_EQ(audio.channels[0], (std::vector<float>{8388607.0f / 8388608.0f, 1.0f / 8388608.0f}));
    EXPECT_EQ(audio.channels[1], (std::vector<float>{-1.0f, -1.0f / 8388608.0f}));
}

TEST(WavFile, DecodesExtensibleFloatAnd16BitMono) {
    std::vector<uint8_t> fmt = fmtBody(0xFFFE, 1, 44100, 32);
    put16(fmt, 22);
    put16(fmt, 32);
    put32(fmt, 4);
    put16(fmt, 3);  // sub-format: IEEE float
    fmt.resize(40, 0);
    std::vector<uint8_t> data;
    const float values[] = {0.25f, -1.5f};
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        put32(data, bits);
    }
    WavAudio audio;
    std::string error;
    ASSERT_TRUE(readBytes(wavBytes(fmt, data, 8), audio, error)) << error;
    EXPECT_EQ(audio.format, SampleFormat::Float32);
    EXPECT_EQ(audio.channels[0], (std::vector<float>{0.25f, -1.5f}));

    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 1, 22050, 16), {0x00, 0x80, 0xFF, 0x7F}, 4), audio, error)) << error;
    EXPECT_EQ(audio.channels[0], (std::vector<float>{-1.0f, 32767.0f / 32768.0f}));
}

TEST(WavFile, RejectsWhatItCannotRead) {
    WavAudio audio;
    std::string error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(1, 1, 44100, 8), {1, 2}, 2), audio, error));
    EXPECT_NE(error.find("unsupported sample format"), std::string::npos) << error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(1, 3, 44100, 16), {0, 0, 0, 0, 0, 0}, 6), audio, error));
    EXPECT_NE(error.find("channel count"), std::string::npos) << error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(1, 1, 44100, 16), {0, 0}, 4000), audio, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_FALSE(readBytes({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, audio, error));
    EXPECT_NE(error.find("not a RIFF/WAVE"), std::string::npos) << error;
    EXPECT_FALSE(readWav(temporaryPath("missing.wav"), audio, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(WavFile, RoundTripsEveryFormatAndClipsIntegers) {
    const SampleFormat formats[] = {SampleFormat::Int16, SampleFormat::Int24, SampleFormat::Float32};
    for (SampleFormat format : formats)
        for (size_t channels = 1; channels <= 2; ++channels) {
            WavAudio audio;
            audio.sampleRate = 88200;
            audio.format = format;
            audio.channels.assign(channels, {0.0f, 0.5f, -0.25f, 1.5f, -2.0f, NAN, 3.0f / 65536.0f});
            const std::string path = temporaryPath("round.wav");
            std::string error;
            ASSERT_TRUE(writeWav(path, audio, error)) << error;
            WavAudio back;
            ASSERT_TRUE(readWav(path, back, error)) << error;
            std::filesystem::remove(path);
            EXPECT_EQ(back.sampleRate, 88200u);
            EXPECT_EQ(back.format, format);
            ASSERT_EQ(back.channels.size(), channels);
            const auto& got = back.channels.back();
            ASSERT_EQ(got.size(), 7u);
            EXPECT_EQ(got[1], 0.5f);
            EXPECT_EQ(got[2], -0.25f);
            if (format == SampleFormat::Float32) {
                EXPECT_EQ(got[3], 1.5f);
                EXPECT_TRUE(std::isnan(got[5]));
            } else {
                EXPECT_LT(got[3], 1.0f);
                EXPECT_GT(got[3], 0.9999f);
                EXPECT_EQ(got[4], -1.0f);
                EXPECT_EQ(got[5], 0.0f);
                EXPECT_NEAR(got[6], 3.0f / 65536.0f, format == SampleFormat::Int16 ? 1.0f / 65536.0f : 1e-7f);
            }
        }
}

TEST(WavFile, FailedWriteLeavesNoFile) {
    WavAudio audio;
    audio.channels.assign(1, std::vector<float>(10, 0.1f));
    std::string error;
    const std::string path = temporaryPath("no-such-dir") + "/out.wav";
    EXPECT_FALSE(writeWav(path, audio, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
    audio.channels.assign(3, std::vector<float>(10, 0.1f));
    EXPECT_FALSE(writeWav(temporaryPath("three.wav"), audio, error));
    EXPECT_FALSE(std::filesystem::exists(temporaryPath("three.wav")));
}

}  // namespace
