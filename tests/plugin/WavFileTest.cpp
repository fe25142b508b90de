// WAV reading and writing: hand-made files as the oracle for decoding, round trips for encoding.

#include "FileIo.h"
#include "WavFile.h"
#include "WavTestBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace velmorant::host;
using namespace velmorant::test;

namespace {

std::string temporaryPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("velmorant-wav-" + std::to_string(::getpid()) + "-" + name))
        .string();
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
    const std::vector<uint8_t> fmt = extensibleFmtBody(3, 1, 44100, 32);  // sub-format: IEEE float
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

TEST(WavFile, Decodes32BitIntegerAnd64BitFloatAsFloat) {
    std::vector<uint8_t> data;
    for (uint32_t v : {0x7FFFFFFFu, 0x80000000u, 0x00000100u, 0xFFFFFF00u}) put32(data, v);
    WavAudio audio;
    std::string error;
    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 48000, 32), data, 16), audio, error)) << error;
    EXPECT_EQ(audio.format, SampleFormat::Int32);
    EXPECT_EQ(writtenFormat(audio.format), SampleFormat::Float32);
    ASSERT_EQ(audio.channels.size(), 2u);
    EXPECT_EQ(audio.channels[0], (std::vector<float>{1.0f, 256.0f / 2147483648.0f}));  // 2^31 - 1 rounds to 1
    EXPECT_EQ(audio.channels[1], (std::vector<float>{-1.0f, -256.0f / 2147483648.0f}));

    data.clear();
    for (double v : {0.1, -1.5, 1e300, -1e300}) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        put64(data, bits);
    }
    ASSERT_TRUE(readBytes(wavBytes(extensibleFmtBody(3, 1, 44100, 64), data, 32), audio, error)) << error;
    EXPECT_EQ(audio.format, SampleFormat::Float64);
    EXPECT_EQ(writtenFormat(audio.format), SampleFormat::Float32);
    EXPECT_EQ(audio.channels[0], (std::vector<float>{0.1f, -1.5f, INFINITY, -INFINITY}));
}

// Writers that stream leave the data chunk's size at 0 or 0xFFFFFFFF: it runs to the end of the
// file, whose last partial frame is dropped.
TEST(WavFile, StreamedDataChunkRunsToTheEndOfTheFile) {
    const std::vector<uint8_t> data = {0x00, 0x40, 0x00, 0xC0, 0x00, 0x20, 0x00, 0xE0, 0x7F};
    for (uint32_t declared : {0u, 0xFFFFFFFFu}) {
        WavAudio audio;
        std::string error;
        ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 44100, 16), data, declared), audio, error)) << error;
        EXPECT_EQ(audio.channels[0], (std::vector<float>{0.5f, 0.25f})) << declared;
        EXPECT_EQ(audio.channels[1], (std::vector<float>{-0.5f, -0.25f})) << declared;
    }
    WavAudio audio;
    std::string error;
    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 44100, 16), {}, 0), audio, error)) << error;
    EXPECT_EQ(audio.frameCount(), 0u);
    EXPECT_EQ(audio.channels.size(), 2u);

    // Size 0 before another chunk: a file without samples. Bytes that only look like a chunk's
    // header, its size past the end of the file, are samples.
    std::vector<uint8_t> chunkAfter, lookalike;
    putTag(chunkAfter, "LIST");
    put32(chunkAfter, 4);
    putTag(chunkAfter, "INFO");
    putTag(lookalike, "ABCD");
    put32(lookalike, 5);
    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 44100, 16), chunkAfter, 0), audio, error)) << error;
    EXPECT_EQ(audio.frameCount(), 0u);
    ASSERT_TRUE(readBytes(wavBytes(fmtBody(1, 2, 44100, 16), lookalike, 0), audio, error)) << error;
    EXPECT_EQ(audio.channels[0], (std::vector<float>{0x4241 / 32768.0f, 0x0005 / 32768.0f}));
}

TEST(WavFile, RejectsWhatItCannotRead) {
    WavAudio audio;
    std::string error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(1, 1, 44100, 8), {1, 2}, 2), audio, error));
    EXPECT_NE(error.find("unsupported sample format"), std::string::npos) << error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(3, 1, 44100, 16), {1, 2}, 2), audio, error));  // 16-bit float
    EXPECT_NE(error.find("unsupported sample format"), std::string::npos) << error;
    EXPECT_FALSE(readBytes(wavBytes(fmtBody(1, 1, 44100, 16), {0, 0}, 0xFFFFFFFEu), audio, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
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

    WavWriter writer;  // an hour of stereo float at 384 kHz is more than 4 GiB
    EXPECT_FALSE(writer.open(temporaryPath("long.wav"), {384000, SampleFormat::Float32, 2}, 3600ull * 384000, error));
    EXPECT_NE(error.find("too long for a WAV file"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(temporaryPath("long.wav")));
}

}  // namespace
