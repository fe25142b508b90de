#include "ByteReader.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "Model files are little-endian and are decoded by copying; a big-endian host needs byte swaps"
#endif

ByteReader::ByteReader(const void* image, std::size_t imageLength)
    : data(static_cast<const unsigned char*>(image)), length(image == nullptr ? 0 : imageLength)
{
}


bool ByteReader::holds(uint64_t count, uint64_t unitBytes, const char* what)
{
    const uint64_t left = length - offset;
    if (count == 0 || unitBytes <= left / count)
        return true;
    return fail(std::string(what) + ": " + std::to_string(count) + " x " + std::to_string(unitBytes)
                + " bytes do not fit in the " + std::to_string(left) + " bytes left at offset "
                + std::to_string(offset));
}

bool ByteReader::fail(const std::string& why)
{
    if (reason.empty())
        reason = why;
    return false;
}

bool ByteReader::failIn(const std::string& place)
{
    reason = place + ": " + reason;
    return false;
}
