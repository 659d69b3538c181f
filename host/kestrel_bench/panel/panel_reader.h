// Reading a panel file as panel builders write it: INI-style [Section] headers and
// key=value lines, comments after // or ;, any letter case, CRLF. Bad input throws
// PanelError with "file:line: what was expected"; unknown keys are kept, not refused.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "panel_model.h"

namespace kestrel::panel {

class PanelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t max_panel_file_bytes = 1u << 20;
inline constexpr std::size_t max_gauge_lines = 1000;
// The most panel units a window or a gauge may span, and how far off the origin a gauge
// may sit: a window drawn at scale 4 stays a picture that fits in memory.
inline constexpr int max_panel_side = 8192;
inline constexpr int max_panel_offset = 100'000;
inline constexpr std::size_t max_name_length = 64;
inline constexpr std::uintmax_t max_background_bytes = 64u << 20;

// Reads, checks and fills the model; backgrounds are looked up (in any letter case) in
// the panel file's folder and decoded. Throws PanelError.
PanelFile read_panel_file(const std::filesystem::path& file);

// The same from text already in memory: `file` names it in messages and its folder is
// where backgrounds are looked up.
PanelFile parse_panel_text(const std::string& text, const std::filesystem::path& file);

// A BMP file checked as hostile input: an uncompressed bitmap of 8 bits with a palette,
// or 24 or 32 bits. Throws PanelError naming `what` and what was expected.
pe::Picture read_bmp_file(const std::filesystem::path& file, const std::string& what);

}  // namespace kestrel::panel
