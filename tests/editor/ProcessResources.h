#pragma once
// What a Windows process holds of the system, counted to find leaks: GDI and USER objects, its
// windows, its threads and its committed private memory. (Windows only.)

#include <cstddef>
#include <string>

namespace velmorant::test
{
struct ProcessResources
{
    long gdiObjects = 0;
    long userObjects = 0;
    long windows = 0;        // this process's windows: top-level, child and message-only
    long threads = 0;
    std::size_t committedPrivateBytes = 0;
    const char* objectSource = ""; // where the GDI and USER counts come from

    std::string describe() const;
};

// Counts now. GDI and USER objects come from GetGuiResources; where the system does not implement
// it (Wine), GDI objects are the live entries of the process's GDI handle table and USER objects
// its windows.
ProcessResources countProcessResources();
} // namespace velmorant::test
