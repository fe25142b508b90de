#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Decodes the little-endian fields of a model file image and never reads past its end. Every read
// checks the bytes left first, so an array is only allocated when the image really holds it. The
// first failure is kept with its reason; callers add where it happened on the way out.
class ByteReader
{
public:
    ByteReader(const void* image, std::size_t length);

    bool readU32(uint32_t& value, const char* what) { return readScalar(value, what); }
    bool readF32(float& value, const char* what) { return readScalar(value, what); }

    // Replaces `values` by `count` elements read from the image.
    template <typename T>
    bool readArray(std::vector<T>& values, uint64_t count, const char* what)
    {
        if (!holds(count, sizeof(T), what))
            return false;
        values.resize(static_cast<std::size_t>(count));
        if (count != 0)
            std::memcpy(values.data(), data + offset, static_cast<std::size_t>(count) * sizeof(T));
        offset += static_cast<std::size_t>(count) * sizeof(T);
        elements += count;
        return true;
    }

    template <typename T, std::size_t n>
    bool readArray(std::array<T, n>& values, const char* what)
    {
        if (!holds(n, sizeof(T), what))
            return false;
        std::memcpy(values.data(), data + offset, n * sizeof(T));
        offset += n * sizeof(T);
        elements += n;
        return true;
    }

    // True when `count` items of at least `unitBytes` each fit in the bytes left; otherwise fails
    // with a reason naming `what`. Used before allocating tables of objects.
    bool holds(uint64_t count, uint64_t unitBytes, const char* what);

    // Records a failure (the first one wins) and returns false.
    bool fail(const std::string& reason);
    // Prefixes the recorded failure with where it happened and returns false.
    bool failIn(const std::string& place);

    std::size_t bytesConsumed() const { return offset; }
    uint64_t elementCount() const { return elements; }
    const std::string& error() const { return reason; }

private:
    template <typename T>
    bool readScalar(T& value, const char* what)
    {
        if (!holds(1, sizeof value, what))
            return false;
        std::memcpy(&value, data + offset, sizeof value);
        offset += sizeof value;
        ++elements;
        return true;
    }

    const unsigned char* data;
    std::size_t length;
    std::size_t offset = 0;
    uint64_t elements = 0;
    std::string reason;
};
