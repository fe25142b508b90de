#include "BaseModelFileF.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "ModelLimits.h"

#include <cerrno>
#include <cstring>

BaseModelFileF::~BaseModelFileF()
{
    closeStream();
}

static FILE* openStream(const char* path, const char* mode, std::string& error)
{
    if (path == nullptr)
    {
        error = "no path given";
        return nullptr;
    }
    FILE* stream = std::fopen(path, mode);
    error = stream == nullptr ? std::string("cannot open ") + path + ": " + std::strerror(errno) : std::string();
    return stream;
}

FILE* BaseModelFileF::openForRead(const char* path)
{
    closeStream();
    stream = openStream(path, "rb", error);
    return stream;
}

FILE* BaseModelFileF::openForWrite(const char* path)
{
    closeStream();
    stream = openStream(path, "wb", error);
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
