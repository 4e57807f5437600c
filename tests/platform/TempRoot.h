// A temporary system root for one test: VELMO_SYSROOT points at a fresh
// folder while the object lives, and the folder is removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class TempRoot {
public:
    TempRoot()
    {
        char tmpl[] = "/tmp/velmo-test-XXXXXX";
        path_ = mkdtemp(tmpl);
        setenv("VELMO_SYSROOT", path_.c_str(), 1);
    }
    ~TempRoot()
    {
        unsetenv("VELMO_SYSROOT");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
