// A directory of a test's own under the system's temporary directory, made fresh with a
// name no other test holds and removed with everything in it when it goes out of scope,
// so that tests running side by side never write into each other's files.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kestrel::testing {

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::random_device seed;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        // create_directory makes the directory or reports that it exists: a name another
        // test holds is never shared, only drawn again.
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = base / ("kestrel-test-" + std::to_string(seed()) + "-" + std::to_string(seed()));
            if (std::filesystem::create_directory(path_)) return;
        }
        throw std::runtime_error("no fresh directory under " + base.string());
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace kestrel::testing
