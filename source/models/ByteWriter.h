#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

// Writes model file fields to a stream and counts the elements fwrite reports.
class ByteWriter
{
public:
    explicit ByteWriter(FILE* stream) : out(stream) {}

    void writeU32(uint32_t value) { elements += std::fwrite(&value, sizeof value, 1, out); }
    void writeF32(float value) { elements += std::fwrite(&value, sizeof value, 1, out); }

    template <typename T>
    void writeArray(const std::vector<T>& values)
    {
        if (!values.empty())
            elements += std::fwrite(values.data(), sizeof(T), values.size(), out);
    }

    template <typename T, std::size_t n>
    void writeArray(const std::array<T, n>& values)
    {
        elements += std::fwrite(values.data(), sizeof(T), n, out);
    }

    uint64_t elementCount() const { return elements; }

private:
    FILE* out;
    uint64_t elements = 0;
};
