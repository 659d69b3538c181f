// A scratch directory for the bench's tests: one per test program under the system's
// temporary directory, removed with everything in it when the program ends.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace kestrel::testing {

inline const std::filesystem::path& scratch_directory() {
    struct Directory {
        std::filesystem::path path;
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Directory directory{[] {
        const auto path = std::filesystem::temp_directory_path() / ("kestrel-bench-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }()};
    return directory.path;
}

inline std::filesystem::path scratch(const std::string& name) { return scratch_directory() / name; }

}  // namespace kestrel::testing
