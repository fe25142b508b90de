#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

// A fresh folder under the temporary directory, named after this process so that two test runs
// at the same time (two build trees, or CI beside a developer) never share one; removed again
// when it goes out of scope.
class ScratchFolder
{
public:
    explicit ScratchFolder(const std::string& name)
        : folder(std::filesystem::temp_directory_path() /
                 ("velmorant_modelgen_" + std::to_string(::getpid()) + "_" + name))
    {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path() const { return folder.string(); }
    std::string file(const std::string& name) const { return (folder / name).string(); }

private:
    std::filesystem::path folder;
};
