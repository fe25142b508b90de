#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class ByteReader;
class ByteWriter;

// A model data file: a flat little-endian sequence of groups, each of chunks, each of network
// records (ModelFileF for the standard layout, PCAModelFileF for the projected one). Nothing in a
// file is navigated by its stored sizes: every reader advances by the counts.
//
// Reading is all or nothing: a missing, truncated or inconsistent image leaves the object's groups
// as they were, returns 0 and gives the reason through lastError(). Successful stream reads and
// writes return the number of elements transferred (a header field, an array element and a key
// count one each); successful memory reads return the bytes consumed.
class BaseModelFileF
{
public:
    BaseModelFileF() = default;
    virtual ~BaseModelFileF();

    BaseModelFileF(const BaseModelFileF&) = delete;
    BaseModelFileF& operator=(const BaseModelFileF&) = delete;

    // fopen with "rb" / "wb"; the stream is kept (null on failure, with the reason in lastError()).
    // A stream that is still open is closed first.
    virtual FILE* openForRead(const char* path);
    virtual FILE* openForWrite(const char* path);
    // fclose's result; EOF when no stream is open. The kept stream is cleared.
    virtual int close();

    // Replaces the groups by n empty ones.
    virtual void allocGroups(uint32_t n) = 0;

    // Computes every size field, then writes the whole file to the open stream. A model whose
    // arrays disagree with its counts is refused before anything is written.
    virtual uint32_t write();
    // Reads the rest of the open stream (at most ModelLimits::maxFileBytes) as a whole file.
    virtual uint32_t read();
    // Reads a whole file from an image of `length` bytes; never reads past it.
    virtual uint32_t readFromMemory(const void* image, std::size_t length);

    // The reason the last open, read or write failed; "" after a success.
    const char* lastError() const { return error.c_str(); }

    uint32_t groupCount = 0;

protected:
    // Parses every group into new objects; replaces the old groups only when all parsed.
    virtual bool parseGroups(ByteReader& in) = 0;
    // "" when every count agrees with its array, else why the model cannot be written.
    virtual std::string checkWritable() const = 0;
    // Computes each group's size fields and writes the groups (the group count is written already).
    virtual void writeGroups(ByteWriter& out) = 0;
    // Called after a successful memory read with the bytes consumed.
    virtual void traceMemoryRead(uint32_t bytesConsumed) const;

private:
    int closeStream();
    bool loadStream(std::string& image);

    FILE* stream = nullptr;
    std::string error;
};
