#include "FileIo.h"

#include "HostPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace velmorant::host {
namespace {

std::string describe(const std::string& path, const char* what, int error) {
    return path + ": " + what + " (" + std::strerror(error) + ")";
}

}  // namespace

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = describe(path, "cannot open", errno);
        return false;
    }
    bytes.clear();
    uint8_t block[1 << 16];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        error = describe(path, "read failed", readErrno);
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const std::string temporary = path + ".partial-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = describe(path, "cannot create", errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int lastErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) {
        if (platform::replaceFile(temporary, path)) return true;
        error = describe(path, "cannot move the finished file into place", errno);
    } else {
        error = describe(path, "write failed", written ? errno : lastErrno);
    }
    std::remove(temporary.c_str());
    return false;
}

}  // namespace velmorant::host
