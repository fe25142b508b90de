#pragma once
// Whole-file reads and all-or-nothing writes for the host's inputs and outputs.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velmorant::host {

// Reads the whole file, but never more than `mostBytes` + 1 bytes of it: a longer one (a device or
// pipe that never ends included) is refused. On failure returns false with "<path>: <reason>" in
// `error`.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                   size_t mostBytes = SIZE_MAX - 1);

// An output file written piece by piece. A symbolic link is followed to the file it names. A
// regular file (or a new one) is written beside itself under a temporary name and renamed into
// place by commit(), so it never holds a partial file; discard() (or destroying an uncommitted
// file) removes the temporary file. The temporary file is created new, never through a link or
// over a file already there (then open() fails). A device or pipe is written directly. Errors come back as
// "<path>: <reason>".
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const std::string& path, std::string& error);
    bool write(const uint8_t* bytes, size_t size, std::string& error);
    // Whether what was written can still be changed: true when a temporary file is being written.
    bool isRewritable() const { return stream_ != nullptr && !direct_; }
    // Overwrites `size` bytes at `offset` of a rewritable file; the next write goes on at its end.
    bool rewrite(long offset, const uint8_t* bytes, size_t size, std::string& error);
    bool commit(std::string& error);
    void discard();

private:
    bool fail(const char* what, int errorNumber, std::string& error);

    std::string shownPath_;  // the path as given, for messages
    std::string target_;     // the file finally written, links followed
    std::string temporary_;  // "" when written directly
    std::FILE* stream_ = nullptr;
    bool direct_ = false;
};

// Writes `bytes` to `path` through an OutputFile: all of it or, on failure, nothing.
bool writeOutputFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Checks, before any work, that an OutputFile could create `path`: its folder exists and takes a
// new file, and nothing is in its temporary file's place (the probe creates that new and removes
// it again, so it changes no file). Devices and pipes pass unchecked. On failure returns false with the reason in `error`.
bool checkOutputFile(const std::string& path, std::string& error);

// Whether two paths lead to the same file, however spelt: the same existing file (hard and
// symbolic links, links to its folder, "./", "../" and doubled separators included), or the same
// new name in the same folder once the links on the way are followed.
bool namesSameFile(const std::string& a, const std::string& b);

}  // namespace velmorant::host
