// Frames and contact sheets, shared by run (each scenario's pictures) and render.
#include "frame_writer.h"

#include <algorithm>
#include <system_error>

#include "host_launcher.h"
#include "output_names.h"
#include "png.h"

namespace kestrel::bench {

namespace fs = std::filesystem;

std::string numbered_frame_name(std::size_t index, std::size_t count, const std::string& label) {
    const std::size_t digits = std::max<std::size_t>(3, std::to_string(count).size());
    std::string number = std::to_string(index + 1);
    number.insert(0, digits - std::min(digits, number.size()), '0');
    return number + "-" + label;
}

FrameWriter::FrameWriter(std::vector<fs::path> gau_folders, fs::path out, int scale)
    : gau_folders_(std::move(gau_folders)), out_(std::move(out)), scale_(scale) {}

const picture::PictureSet& FrameWriter::pictures_of(const std::string& module) {
    auto it = pictures_.find(module);
    if (it != pictures_.end()) return it->second;
    const fs::path gau = find_module(gau_folders_, module, ".gau");
    return pictures_.emplace(module, picture::PictureSet::from_module(gau)).first->second;
}

picture::TextFace& FrameWriter::readout_face() {
    if (!readout_face_) readout_face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
    return *readout_face_;
}

int FrameWriter::draw(const std::string& name, const trace::TraceSummary& summary, picture::Renderer& renderer) {
    if (summary.pictures.empty() || !summary.gauge) return 0;
    std::vector<std::pair<std::string, picture::Image>> frames;
    for (const trace::Frame& frame : summary.pictures)
        frames.emplace_back(frame.label, renderer.render(*summary.gauge, frame, {scale_}));
    write(name, std::move(frames));
    return static_cast<int>(summary.pictures.size());
}

int FrameWriter::draw(const std::string& name, const trace::TraceSummary& summary) {
    if (summary.pictures.empty() || !summary.gauge) return 0;
    picture::Renderer drawing = renderer(summary.gauge->module);
    return draw(name, summary, drawing);
}

void FrameWriter::write(const std::string& name, std::vector<std::pair<std::string, picture::Image>> frames) {
    require_plain_path(name, "a trace or scenario name");
    for (const auto& [label, image] : frames) require_plain_name(label, "a picture label");
    const fs::path directory = out_ / "frames" / name;
    fs::create_directories(directory);
    // The pictures of an earlier run go first: with numbered names, one taken in another
    // order or no longer taken would stay behind and read as this run's.
    std::error_code error;
    std::vector<fs::path> stale;
    for (const auto& entry : fs::directory_iterator(directory, error))
        if (entry.is_regular_file() && entry.path().extension() == ".png") stale.push_back(entry.path());
    for (const fs::path& file : stale) fs::remove(file, error);

    picture::SheetRow row{name, {}};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string file = numbered_frame_name(i, frames.size(), frames[i].first);
        picture::write_png(frames[i].second, directory / (file + ".png"));
        row.frames.push_back({file, std::move(frames[i].second)});
    }
    sheet_rows_.push_back(std::move(row));
}

bool FrameWriter::write_contact_sheet(const fs::path& file) {
    if (sheet_rows_.empty()) return false;
    picture::TextFace label_face(picture::default_label_font);
    picture::write_png(picture::contact_sheet(sheet_rows_, label_face), file);
    return true;
}

}  // namespace kestrel::bench
