#include "FileIo.h"

#include "HostPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace velmorant::host {
namespace {

namespace fs = std::filesystem;

std::string describe(const std::string& path, const char* what, int error) {
    return path + ": " + what + " (" + std::strerror(error) + ")";
}

// Where the bytes for an output path go.
struct OutputTarget {
    std::string path;     // the file finally written: the path with its symbolic links followed
    bool direct = false;  // a device, pipe or other special file: written in place, never renamed
};

bool resolveOutput(const std::string& path, OutputTarget& target, std::string& error) {
    std::error_code failure;
    const fs::file_status status = fs::status(path, failure);  // through every link, as open() goes
    if (fs::is_directory(status)) {
        error = path + ": is a folder, not a file";
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        target = {path, true};  // the system follows the links when it opens the device
        return true;
    }
    // A regular file or a new one is replaced by renaming, which would replace a link itself: the
    // links are followed here to the name of the file they lead to.
    constexpr int kMostLinks = 40;  // as many as the system follows before it gives up
    fs::path current = path;
    for (int links = 0; fs::is_symlink(fs::symlink_status(current, failure)); ++links) {
        const fs::path next = fs::read_symlink(current, failure);
        if (links == kMostLinks || failure) {
            error = describe(path, "cannot follow the link", links == kMostLinks ? ELOOP : failure.value());
            return false;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    target = {current.string(), false};
    return true;
}

std::string temporaryBeside(const std::string& path) { return path + ".partial-" + std::to_string(::getpid()); }

// Why `path`'s temporary file could not be created: whatever is in its place already (a file, or a
// link someone planted there) is left alone, never written through.
std::string creationFailure(const std::string& path, const std::string& temporary, int errorNumber) {
    if (errorNumber == EEXIST)
        return describe(path, ("cannot create: " + temporary + " is in the way").c_str(), errorNumber);
    return describe(path, "cannot create", errorNumber);
}

// The folder a path's last name lies in: "." for a bare name.
fs::path folderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

// Whether two paths to files that do not exist yet (their links already followed) would create
// the same file: the same name in the same folder, however the folders are reached.
bool sameNewFile(const fs::path& a, const fs::path& b) {
    if (a.filename() != b.filename()) return false;
    std::error_code failure;
    const bool sameFolder = fs::equivalent(folderOf(a), folderOf(b), failure);
    if (!failure) return sameFolder;
    const fs::path absoluteA = fs::absolute(a, failure), absoluteB = fs::absolute(b, failure);
    return absoluteA.lexically_normal() == absoluteB.lexically_normal();  // a missing folder: by spelling
}

}  // namespace

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, size_t mostBytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = describe(path, "cannot open", errno);
        return false;
    }
    bytes.clear();
    uint8_t block[1 << 16];
    size_t got = 0;
    while (bytes.size() <= mostBytes &&
           (got = std::fread(block, 1, std::min(sizeof block, mostBytes - bytes.size() + 1), file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        error = describe(path, "read failed", readErrno);
        return false;
    }
    if (bytes.size() > mostBytes) {
        error = path + ": larger than " + std::to_string(mostBytes) + " bytes";
        return false;
    }
    return true;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path, std::string& error) {
    discard();
    OutputTarget target;
    if (!resolveOutput(path, target, error)) return false;
    shownPath_ = path;
    target_ = target.path;
    direct_ = target.direct;
    temporary_ = direct_ ? std::string() : temporaryBeside(target_);
    stream_ = direct_ ? std::fopen(target_.c_str(), "wb") : platform::createNewFile(temporary_);
    if (stream_ != nullptr) return true;
    error = creationFailure(path, temporary_, errno);
    temporary_.clear();  // not created: whatever is there is not this file's
    return false;
}

bool OutputFile::write(const uint8_t* bytes, size_t size, std::string& error) {
    if (stream_ == nullptr) return fail("write failed", EBADF, error);
    if (std::fwrite(bytes, 1, size, stream_) == size) return true;
    return fail("write failed", errno, error);
}

bool OutputFile::rewrite(long offset, const uint8_t* bytes, size_t size, std::string& error) {
    if (!isRewritable()) return fail("cannot rewrite", ESPIPE, error);
    if (std::fseek(stream_, offset, SEEK_SET) != 0 || std::fwrite(bytes, 1, size, stream_) != size ||
        std::fseek(stream_, 0, SEEK_END) != 0)
        return fail("write failed", errno, error);
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (stream_ == nullptr) return fail("write failed", EBADF, error);
    const bool closed = std::fclose(stream_) == 0;
    const int closeErrno = errno;
    stream_ = nullptr;
    if (!closed) return fail("write failed", closeErrno, error);
    if (!direct_ && !platform::replaceFile(temporary_, target_))
        return fail("cannot move the finished file into place", errno, error);
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::fail(const char* what, int errorNumber, std::string& error) {
    error = describe(shownPath_, what, errorNumber);
    discard();
    return false;
}

bool writeOutputFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    OutputFile file;
    return file.open(path, error) && file.write(bytes.data(), bytes.size(), error) && file.commit(error);
}

bool checkOutputFile(const std::string& path, std::string& error) {
    OutputTarget target;
    if (!resolveOutput(path, target, error)) return false;
    if (target.direct) return true;
    const std::string probe = temporaryBeside(target.path);
    std::FILE* stream = platform::createNewFile(probe);
    if (stream == nullptr) {
        error = creationFailure(path, probe, errno);
        return false;
    }
    std::fclose(stream);
    std::remove(probe.c_str());
    return true;
}

bool namesSameFile(const std::string& a, const std::string& b) {
    std::error_code failure;
    const bool aExists = fs::exists(a, failure), bExists = fs::exists(b, failure);
    if (aExists || bExists) return aExists && bExists && fs::equivalent(a, b, failure);
    OutputTarget first, second;
    std::string unused;
    return resolveOutput(a, first, unused) && resolveOutput(b, second, unused) && sameNewFile(first.path, second.path);
}

}  // namespace velmorant::host
