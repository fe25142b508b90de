#pragma once

#include <cstddef>
#include <cstring>

// The virtual-table slot of a virtual member function. Under the Itanium C++ ABI (GCC, Clang,
// MinGW) a pointer to a virtual member function holds 1 + the slot's byte offset; slots 0 and 1
// are the two destructor entries.
template <typename Member>
std::ptrdiff_t virtualTableSlot(Member member)
{
    std::ptrdiff_t words[sizeof(Member) / sizeof(std::ptrdiff_t)];
    std::memcpy(words, &member, sizeof(Member));
    return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}
