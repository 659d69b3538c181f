// The native preset's build tree as the bench's tests use it: the sanitized 32-bit host and
// the misbehaving test module it builds. KESTREL_NATIVE_BUILD_DIR in the environment
// overrides where it is.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestrel::testing {

struct FaultyModuleHost {
    std::filesystem::path host;
    std::filesystem::path modules;  // holds KESTREL_FAULTY.so

    // What is missing, and how to build it; empty when both are there.
    std::string missing() const {
        if (!std::filesystem::exists(host)) return host.string() + " is missing: build the native preset first (make native)";
        if (!std::filesystem::exists(modules / "KESTREL_FAULTY.so"))
            return modules.string() + " lacks KESTREL_FAULTY.so: build the native preset first (make native)";
        return "";
    }
};

inline FaultyModuleHost faulty_module_host() {
    const char* override_dir = std::getenv("KESTREL_NATIVE_BUILD_DIR");
    const std::filesystem::path build = override_dir != nullptr ? override_dir : KESTREL_NATIVE_BUILD_DIR;
    return {build / "host" / "kestrel-host", build / "tests" / "modules"};
}

}  // namespace kestrel::testing
