#include "HostPlatform.h"

#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <climits>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velmorant::host::platform {


#if defined(_WIN32)

const char* const kPluginFileName = "VelmorantPreamp.dll";

namespace {
std::string lastErrorText() {
    const DWORD code = ::GetLastError();
    char text[256] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "system error " + std::to_string(code) : reason;
}
}  // namespace

// The loader searches the system's folders for a name or a relative path; the path given here is
// the file the user means, so it is made absolute first.
void* loadLibrary(const std::string& path, std::string& reason) {
    char full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    const std::string file = length == 0 || length >= sizeof full ? path : std::string(full, length);
    HMODULE library = ::LoadLibraryA(file.c_str());
    if (library == nullptr) reason = lastErrorText();
    return reinterpret_cast<void*>(library);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }

std::string executablePath() {
    char buffer[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return length == 0 || length >= sizeof buffer ? std::string() : std::string(buffer, length);
}

std::string nativePath(const std::string& relative) {
    std::string path = relative;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

namespace {
// Windows creates no file through a symbolic link when it must be new.
int createNewDescriptor(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
std::FILE* streamOf(int fd) { return ::_fdopen(fd, "wb"); }
void closeDescriptor(int fd) { ::_close(fd); }
}  // namespace

void failWritesPastTheFileSizeLimit() {}  // Windows has no such limit

#else

const char* const kPluginFileName = "VelmorantPreamp.so";

// dlopen searches the system's library path for a name without a slash; the name given here is
// the file the user means, in the current folder.
void* loadLibrary(const std::string& path, std::string& reason) {
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* text = ::dlerror();
        reason = text != nullptr ? text : "unknown error";
    }
    return library;
}

void* findSymbol(void* library, const char* name) { return ::dlsym(library, name); }

void unloadLibrary(void* library) { ::dlclose(library); }

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length <= 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
}

std::string nativePath(const std::string& relative) { return relative; }

bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

namespace {
int createNewDescriptor(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}
std::FILE* streamOf(int fd) { return ::fdopen(fd, "wb"); }
void closeDescriptor(int fd) { ::close(fd); }
}  // namespace

void failWritesPastTheFileSizeLimit() { std::signal(SIGXFSZ, SIG_IGN); }

#endif

std::FILE* createNewFile(const std::string& path) {
    const int fd = createNewDescriptor(path);
    if (fd < 0) return nullptr;
    std::FILE* file = streamOf(fd);
    if (file == nullptr) {
        const int openErrno = errno;
        closeDescriptor(fd);
        errno = openErrno;
    }
    return file;
}

std::string directoryOf(const std::string& path) {
#if defined(_WIN32)
    const size_t separator = path.find_last_of("/\\");
#else
    const size_t separator = path.rfind('/');  // a backslash is an ordinary file-name character here
#endif
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace velmorant::host::platform
