#pragma once
// A private folder under the test's temporary directory, removed with
// everything in it when the test ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace raid::test_support {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& stem = "raid_test") {
        std::string pattern = testing::TempDir() + stem + "_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace raid::test_support
