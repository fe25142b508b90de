#pragma once
// What the host does differently on Linux and on Windows, in one place: loading the plug-in
// library and finding its entry point, the plug-in's file name, the host program's own path,
// creating a new file and replacing an existing one.

#include <cstdio>
#include <string>

namespace velmorant::host::platform {

// The plug-in library's file name: "VelmorantPreamp.so" or "VelmorantPreamp.dll".
extern const char* const kPluginFileName;

// Loads the library file at `path` (dlopen / LoadLibrary), a bare file name included, without
// searching the system's library folders; null on failure, with the system's reason in `reason`.
void* loadLibrary(const std::string& path, std::string& reason);
// The address of an exported function, or null.
void* findSymbol(void* library, const char* name);
void unloadLibrary(void* library);

// The full path of the running program, or "" when the system cannot tell.
std::string executablePath();
// `path` up to and including its last separator ("" when it has none).
std::string directoryOf(const std::string& path);
// `relative` with '/' turned into this platform's separator.
std::string nativePath(const std::string& relative);

// Moves `from` over `to`, replacing `to` when it exists (rename() does not replace on Windows).
// On failure returns false with errno set.
bool replaceFile(const std::string& from, const std::string& to);

// Creates `path` for writing only when nothing is there yet, not even a symbolic link (O_CREAT |
// O_EXCL | O_NOFOLLOW), so that nothing it points to can be written. Null with errno set on failure.
std::FILE* createNewFile(const std::string& path);

// A write past the file-size limit (ulimit -f) fails with an error instead of ending the process,
// so that the host removes what it had begun.
void failWritesPastTheFileSizeLimit();

}  // namespace velmorant::host::platform
