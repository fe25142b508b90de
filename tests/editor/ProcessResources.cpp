#include "ProcessResources.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>

namespace velmorant::test
{
namespace
{
// An entry of the GDI handle table that the process environment block points to: the same 24-byte
// layout on Windows x64 and in Wine, whose entries of type 0 are free.
struct GdiHandleEntry
{
    std::uint64_t object;
    std::uint32_t owner;
    std::uint16_t unique; // bit 7: a stock object
    std::uint8_t type;
    std::uint8_t flags;
    std::uint64_t userPointer;
};
static_assert (sizeof (GdiHandleEntry) == 24, "GDI handle table entries are 24 bytes");
constexpr std::size_t gdiHandleTableOffset = 0xf8; // of the table's address in the x64 process environment block
constexpr std::size_t gdiHandleCount = 0x10000;

long liveGdiHandles()
{
    PROCESS_BASIC_INFORMATION process {};
    if (NtQueryInformationProcess (GetCurrentProcess(), ProcessBasicInformation, &process, sizeof process, nullptr) != 0)
        return -1;
    const auto* environment = reinterpret_cast<const std::uint8_t*> (process.PebBaseAddress);
    const auto* table = *reinterpret_cast<const GdiHandleEntry* const*> (environment + gdiHandleTableOffset);
    if (table == nullptr)
        return -1;
    long live = 0;
    for (std::size_t i = 0; i < gdiHandleCount; ++i)
        live += table[i].type != 0 && (table[i].unique & 0x80) == 0 ? 1 : 0;
    return live;
}

bool isOurs (HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId (window, &process);
    return process == GetCurrentProcessId();
}

BOOL CALLBACK countChild (HWND, LPARAM count)
{
    ++*reinterpret_cast<long*> (count);
    return TRUE;
}

// A window of ours and, recursively, its children.
void countWithChildren (HWND window, long& count)
{
    ++count;
    EnumChildWindows (window, countChild, reinterpret_cast<LPARAM> (&count));
}

BOOL CALLBACK countTopLevel (HWND window, LPARAM count)
{
    if (isOurs (window))
        countWithChildren (window, *reinterpret_cast<long*> (count));
    return TRUE;
}

long windowsOfThisProcess()
{
    long count = 0;
    EnumWindows (countTopLevel, reinterpret_cast<LPARAM> (&count));
    for (HWND window = FindWindowExW (HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW (HWND_MESSAGE, window, nullptr, nullptr))
        if (isOurs (window))
            countWithChildren (window, count);
    return count;
}

long threadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot (TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    long count = 0;
    THREADENTRY32 thread {};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First (snapshot, &thread); more; more = Thread32Next (snapshot, &thread))
        count += thread.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle (snapshot);
    return count;
}

// The committed private pages of the address space: the heap, JUCE's images and every other
// allocation of the process (Wine answers 0 for the private bytes of its memory counters).
std::size_t committedPrivateBytes()
{
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region {};
    for (auto* address = static_cast<std::uint8_t*> (nullptr);
         VirtualQuery (address, &region, sizeof region) == sizeof region;
         address = static_cast<std::uint8_t*> (region.BaseAddress) + region.RegionSize)
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    return total;
}
} // namespace

std::string ProcessResources::describe() const
{
    return std::to_string (gdiObjects) + " GDI and " + std::to_string (userObjects) + " USER objects (" + objectSource
           + "), " + std::to_string (windows) + " windows, " + std::to_string (threads) + " threads, "
           + std::to_string (committedPrivateBytes / 1024) + " KiB committed private memory";
}

ProcessResources countProcessResources()
{
    ProcessResources resources;
    resources.windows = windowsOfThisProcess();
    resources.threads = threadsOfThisProcess();
    resources.committedPrivateBytes = committedPrivateBytes();
    SetLastError (0);
    const DWORD gdi = GetGuiResources (GetCurrentProcess(), GR_GDIOBJECTS);
    if (gdi == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
    {
        resources.gdiObjects = liveGdiHandles();
        resources.userObjects = resources.windows;
        resources.objectSource = "GDI handle table and windows";
    }
    else
    {
        resources.gdiObjects = (long) gdi;
        resources.userObjects = (long) GetGuiResources (GetCurrentProcess(), GR_USEROBJECTS);
        resources.objectSource = "GetGuiResources";
    }
    return resources;
}
} // namespace velmorant::test
