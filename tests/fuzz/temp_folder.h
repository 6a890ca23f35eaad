// A folder of the fuzz run's own under /tmp, removed with what it holds when the run ends (a run
// that crashes leaves it for a look).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class FuzzTempFolder {
public:
    explicit FuzzTempFolder(const char* prefix) : path_(std::string("/tmp/") + prefix + "-XXXXXX") {
        if (!mkdtemp(path_.data())) std::abort();
    }
    ~FuzzTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    FuzzTempFolder(const FuzzTempFolder&) = delete;
    FuzzTempFolder& operator=(const FuzzTempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
