// Drawing what traces recorded into PNG files under --out: the module pictures each trace's
// module needs (from its .gau, looked up in the bench's one order), the frames of each
// scenario or panel, numbered in the order taken, and the contact sheet of everything drawn.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "contact_sheet.h"
#include "renderer.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::bench {

// A frame's file name: its place in the order taken, then its label: "001-label.png".
// The number has three digits, or as many as the count needs.
std::string numbered_frame_name(std::size_t index, std::size_t count, const std::string& label);

class FrameWriter {
public:
    // gau_folders: where the modules' pictures are looked up; frames go to out/frames/.
    FrameWriter(std::vector<std::filesystem::path> gau_folders, std::filesystem::path out, int scale);

    // A renderer of the module's pictures; it lives no longer than this writer.
    picture::Renderer renderer(const std::string& module) { return {pictures_of(module), readout_face()}; }

    // Draws a trace's pictures (or the frames set in it) into frames/NAME/; returns how many.
    int draw(const std::string& name, const trace::TraceSummary& summary, picture::Renderer& renderer);
    int draw(const std::string& name, const trace::TraceSummary& summary);
    // Writes frames/NAME/NNN-LABEL.png for each frame, in order, in place of the pictures an
    // earlier run left there, and keeps them as one row of the contact sheet. Names and
    // labels come from files the user hands the bench: each must be plain, so that nothing
    // is ever written outside --out.
    void write(const std::string& name, std::vector<std::pair<std::string, picture::Image>> frames);
    // Writes out/contact-sheet.png of every frame written; false when there was none.
    bool write_contact_sheet(const std::filesystem::path& file);

    const picture::PictureSet& pictures_of(const std::string& module);
    picture::TextFace& readout_face();
    int scale() const { return scale_; }

private:
    std::vector<std::filesystem::path> gau_folders_;
    std::filesystem::path out_;
    int scale_;
    std::map<std::string, picture::PictureSet> pictures_;
    std::unique_ptr<picture::TextFace> readout_face_;
    std::vector<picture::SheetRow> sheet_rows_;
};

}  // namespace kestrel::bench
