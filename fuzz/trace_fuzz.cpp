// Fuzz target for the trace reader: any file must be read or refused with one TraceError
// naming the line, and what it accepts must pass the checks the renderer relies on.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "trace.h"

namespace {

// The reader takes a path: the input goes to one file per process, rewritten each time.
struct TraceFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kestrel-trace-fuzz-" + std::to_string(getpid()) + ".jsonl");
    ~TraceFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

const std::filesystem::path& trace_file() {
    static const TraceFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(trace_file().c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    try {
        const auto summary = kestrel::trace::read_trace(trace_file(), 1);
        if (summary.gauge) {
            kestrel::trace::check_gauge(*summary.gauge, "fuzz");
            for (const auto& frame : summary.pictures) kestrel::trace::check_frame(*summary.gauge, frame, "fuzz");
        }
    } catch (const kestrel::trace::TraceError&) {
    }
    return 0;
}
