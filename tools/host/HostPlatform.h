#pragma once
// What the host does differently on Linux and on Windows, in one place: loading the plug-in
// library and finding its entry point, the plug-in's file name, the host program's own path and
// replacing an existing file.

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

}  // namespace velmorant::host::platform
