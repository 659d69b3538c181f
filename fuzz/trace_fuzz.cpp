// Fuzz targets for what the bench does with a trace: any file must be read or refused
// with one TraceError naming the line, and what it accepts must pass the checks the
// renderer relies on. Built with KESTREL_FUZZ_RENDER, the target also draws the frames
// the reader accepted, with the real modules' pictures, as `kestrel-bench render` would.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "trace.h"

#ifdef KESTREL_FUZZ_RENDER
#include "renderer.h"
#endif

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

#ifdef KESTREL_FUZZ_RENDER
namespace picture = kestrel::picture;

// A trace of a thousand pictures legitimately takes seconds to draw: a few frames per
// input reach every drawing path without making length a timeout.
constexpr std::size_t max_frames_per_input = 4;

// The pictures of the two real modules, read once; a trace naming another module is
// drawn with none, which the renderer must refuse cleanly.
const picture::PictureSet& pictures_of(const std::string& module) {
    static const std::map<std::string, picture::PictureSet> sets = [] {
        std::map<std::string, picture::PictureSet> loaded;
        const std::pair<const char*, const char*> modules[] = {{"KESTREL_TIMER", "KESTREL_TIMER.gau"},
                                                               {"KESTREL", "KESTREL.GAU"}};
        for (const auto& [name, file] : modules)
            loaded.emplace(name, picture::PictureSet::from_module(std::string(KESTREL_WINDOWS_MODULE_DIR) + "/" + file));
        loaded.emplace("", picture::PictureSet{});
        return loaded;
    }();
    const auto found = sets.find(module);
    return found != sets.end() ? found->second : sets.at("");
}

void draw(const kestrel::trace::TraceSummary& summary) {
    static picture::TextFace face(picture::default_readout_font);
    picture::Renderer renderer(pictures_of(summary.gauge->module), face);
    for (std::size_t i = 0; i < summary.pictures.size() && i < max_frames_per_input; ++i) {
        try {
            renderer.render(*summary.gauge, summary.pictures[i], {1 + static_cast<int>(i % 2)});
        } catch (const picture::ImageError&) {
        }
    }
}
#endif

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
#ifdef KESTREL_FUZZ_RENDER
            draw(summary);
#endif
        }
    } catch (const kestrel::trace::TraceError&) {
    }
    return 0;
}
