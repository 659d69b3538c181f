// `render`: pictures from traces, or one panel of several gauges, frame by frame. Only a
// whole trace is drawn: a scenario, a directory or a trace that stops before its end record
// is bad input, said as such.
#include <fstream>
#include <iostream>
#include <system_error>

#include "bench_commands.h"
#include "frame_writer.h"
#include "host_launcher.h"
#include "input_files.h"
#include "module_lookup.h"
#include "output_names.h"
#include "run_status.h"
#include "scenario.h"
#include "trace.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

// The work one render may ask for: elements drawn over all frames.
constexpr std::size_t max_elements_drawn = 1'000'000;

bool reads_as_scenario(const fs::path& file) {
    try {
        scenario::read_scenario(file);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string not_a_trace(const fs::path& file) {
    return display_path(file) + ": this is a scenario, not a trace: run it first (kestrel-bench run " + display_path(file) +
           ") and render the trace it leaves in OUT/traces/";
}

// The line after the last one: where the end record was expected.
std::size_t line_after_last(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::size_t lines = 1;
    for (char c; in.get(c);) lines += c == '\n';
    return lines;
}

trace::TraceSummary read_whole_trace(const fs::path& file, std::optional<uint64_t> update) {
    std::error_code error;
    if (std::string problem = read_problem(file, true); !problem.empty()) throw UsageError(problem);
    if (fs::is_directory(file, error))
        throw UsageError(display_path(file) + ": this is a directory; render takes trace files (.jsonl), such as " +
                         display_path(file / "NAME.jsonl"));
    if (file.extension() == ".scenario") throw UsageError(not_a_trace(file));
    trace::TraceSummary summary;
    try {
        summary = trace::read_trace(file, update);
    } catch (const trace::TraceError&) {
        if (reads_as_scenario(file)) throw UsageError(not_a_trace(file));
        throw;
    }
    if (!summary.ended && !summary.error)
        throw UsageError(display_path(file) + ":" + std::to_string(line_after_last(file)) +
                         ": expected the trace's end record (or an error record): the run that wrote it stopped early");
    if (!summary.gauge) throw UsageError(display_path(file) + ":1: expected the trace's gauge record first");
    if (summary.pictures.size() * summary.gauge->elements.size() > max_elements_drawn)
        throw UsageError(display_path(file) + ": " + std::to_string(summary.pictures.size()) + " pictures of " +
                         std::to_string(summary.gauge->elements.size()) + " elements are more than one render draws");
    if (update && !summary.selected_update)
        throw UsageError(display_path(file) + ": the trace has no update " + std::to_string(*update) + " (it has " +
                         std::to_string(summary.updates) + ")");
    return summary;
}

// What a renderer drew other than the trace says, under the name of what it drew.
void print_warnings(const picture::Renderer& renderer, const std::string& what) {
    for (const picture::RenderWarning& warning : renderer.warnings())
        std::cerr << what << ": warning: the picture of scenario line " << warning.line << ": " << warning.message << '\n';
}

}  // namespace

int render_command(const Options& options, const Locations& locations) {
    std::vector<fs::path> files(options.inputs.begin(), options.inputs.end());
    std::vector<trace::TraceSummary> traces;
    for (const fs::path& file : files) traces.push_back(read_whole_trace(file, options.update));
    fs::create_directories(options.out / "frames");
    FrameWriter frames(gau_folders(options, locations), options.out, options.scale_or_default());
    if (options.panel) {
        std::vector<picture::PanelGauge> panel;
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::vector<trace::Frame> chosen = options.update ? std::vector<trace::Frame>{*traces[i].selected_update}
                                                              : traces[i].pictures;
            panel.push_back({display_path(files[i]), *traces[i].gauge, std::move(chosen)});
        }
        picture::Renderer renderer = frames.renderer(panel.front().gauge.module);
        frames.write(*options.panel, picture::panel_frames(renderer, panel, {frames.scale()}));
        print_warnings(renderer, *options.panel);
    } else {
        const std::vector<std::string> names = output_names(files);
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (options.update) traces[i].pictures = {*traces[i].selected_update};
            picture::Renderer renderer = frames.renderer(traces[i].gauge->module);
            frames.draw(names[i], traces[i], renderer);
            print_warnings(renderer, display_path(files[i]));
        }
    }
    std::cout << "pictures: " << display_path(options.out / "frames") << '\n';
    return run_passed;
}

}  // namespace kestrel::bench
