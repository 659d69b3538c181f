// Frames and contact sheets, shared by run (each scenario's pictures) and render.
#include "frame_writer.h"

#include "host_launcher.h"
#include "output_names.h"
#include "png.h"

namespace kestrel::bench {

namespace fs = std::filesystem;

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

int FrameWriter::draw(const std::string& name, const trace::TraceSummary& summary) {
    if (summary.pictures.empty() || !summary.gauge) return 0;
    picture::Renderer renderer(pictures_of(summary.gauge->module), readout_face());
    std::vector<std::pair<std::string, picture::Image>> frames;
    for (const trace::Frame& frame : summary.pictures)
        frames.emplace_back(frame.label, renderer.render(*summary.gauge, frame, {scale_}));
    write(name, std::move(frames));
    return static_cast<int>(summary.pictures.size());
}

void FrameWriter::write(const std::string& name, std::vector<std::pair<std::string, picture::Image>> frames) {
    require_plain_path(name, "a trace or scenario name");
    const fs::path directory = out_ / "frames" / name;
    fs::create_directories(directory);
    picture::SheetRow row{name, {}};
    for (auto& [label, image] : frames) {
        require_plain_name(label, "a picture label");
        picture::write_png(image, directory / (label + ".png"));
        row.frames.push_back({label, std::move(image)});
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
