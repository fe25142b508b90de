#include "BaseModelFileF.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "ModelLimits.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

BaseModelFileF::~BaseModelFileF()
{
    closeStream();
}

namespace
{
const char* const notRegular = "not a regular file";

#if defined(_WIN32)
// Nothing in a folder of ordinary files opens as a pipe here: a device or folder is told apart
// once it is open.
FILE* openRegularFile(const char* path, const char*& reason)
{
    FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr)
    {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct _stat64 status;
    if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
    {
        std::fclose(stream);
        reason = notRegular;
        return nullptr;
    }
    return stream;
}
#else
// Opening a named pipe for reading waits for a writer, and reading a device may never end: the file
// is opened without waiting, refused unless it is a regular file, and only then made blocking.
FILE* openRegularFile(const char* path, const char*& reason)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct stat status;
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const int flags = regular ? ::fcntl(fd, F_GETFL) : -1;
    FILE* stream = flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? ::fdopen(fd, "rb") : nullptr;
    if (stream == nullptr)
    {
        reason = regular ? std::strerror(errno) : notRegular;
        ::close(fd);
    }
    return stream;
}
#endif

FILE* openStream(const char* path, bool forReading, std::string& error)
{
    if (path == nullptr)
    {
        error = "no path given";
        return nullptr;
    }
    const char* reason = nullptr;
    FILE* stream = nullptr;
    if (forReading)
        stream = openRegularFile(path, reason);
    else if ((stream = std::fopen(path, "wb")) == nullptr)
        reason = std::strerror(errno);
    error = stream == nullptr ? std::string("cannot open ") + path + ": " + reason : std::string();
    return stream;
}
} // namespace

FILE* BaseModelFileF::openForRead(const char* path)
{
    closeStream();
    stream = openStream(path, true, error);
    return stream;
}

FILE* BaseModelFileF::openForWrite(const char* path)
{
    closeStream();
    stream = openStream(path, false, error);
    return stream;
}

int BaseModelFileF::close()
{
    return closeStream();
}

int BaseModelFileF::closeStream()
{
    if (stream == nullptr)
        return EOF;
    const int result = std::fclose(stream);
    stream = nullptr;
    return result;
}

bool BaseModelFileF::loadStream(std::string& image)
{
    if (stream == nullptr)
    {
        if (error.empty())
            error = "no open file to read";
        return false;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) != 0)
    {
        if (image.size() + got > ModelLimits::maxFileBytes)
        {
            error = "file is larger than " + std::to_string(ModelLimits::maxFileBytes) + " bytes";
            return false;
        }
        image.append(buffer, got);
    }
    if (std::ferror(stream))
    {
        error = "read error after " + std::to_string(image.size()) + " bytes";
        return false;
    }
    return true;
}

uint32_t BaseModelFileF::read()
{
    std::string image;
    if (!loadStream(image))
        return 0;
    ByteReader in(image.data(), image.size());
    if (!parseGroups(in))
    {
        error = in.error();
        return 0;
    }
    error.clear();
    return static_cast<uint32_t>(in.elementCount());
}

uint32_t BaseModelFileF::readFromMemory(const void* image, std::size_t length)
{
    ByteReader in(image, length);
    if (!parseGroups(in))
    {
        error = in.error();
        return 0;
    }
    error.clear();
    const auto consumed = static_cast<uint32_t>(in.bytesConsumed());
    traceMemoryRead(consumed);
    return consumed;
}

uint32_t BaseModelFileF::write()
{
    if (stream == nullptr)
    {
        error = "no open file to write";
        return 0;
    }
    error = checkWritable();
    if (!error.empty())
        return 0;
    ByteWriter out(stream);
    out.writeU32(groupCount);
    writeGroups(out);
    if (std::ferror(stream))
        error = "write error";
    return static_cast<uint32_t>(out.elementCount());
}

void BaseModelFileF::traceMemoryRead(uint32_t) const
{
}
