// libFuzzer target for the host's WAV reader: the input is a whole file, handed over through an
// in-memory file. A file that reads must give one or two channels of equal length.
#include "WavFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace
{
// One in-memory file for the whole run, rewritten for each input.
class MemoryFile
{
public:
    explicit MemoryFile(const char* name) : fd(memfd_create(name, 0)), path("/proc/self/fd/" + std::to_string(fd)) {}

    bool hold(const std::uint8_t* data, std::size_t size)
    {
        if (fd < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
            return false;
        for (std::size_t written = 0; written < size;)
        {
            const ssize_t n = write(fd, data + written, size - written);
            if (n <= 0)
                return false;
            written += static_cast<std::size_t>(n);
        }
        return true;
    }

    const int fd;
    const std::string path;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static MemoryFile file("velmorant-wav-fuzz");
    if (!file.hold(data, size))
        return 0;
    velmorant::host::WavAudio audio;
    std::string error;
    if (!velmorant::host::readWav(file.path, audio, error))
        return 0;
    if (audio.channels.empty() || audio.channels.size() > 2)
        __builtin_trap();
    for (const auto& channel : audio.channels)
        if (channel.size() != audio.frameCount())
            __builtin_trap();
    return 0;
}
