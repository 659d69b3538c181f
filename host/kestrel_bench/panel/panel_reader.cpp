// The panel file reader: one pass over the lines that fills the model section by section,
// then the checks that need the whole file (titles that name no window). Every refusal
// names the line and says what was expected there.
#include "panel_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <system_error>

#include "module_lookup.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The line without its comment: whatever follows the first // or ;.
std::string without_comment(const std::string& line) {
    const std::size_t slashes = line.find("//");
    const std::size_t semicolon = line.find(';');
    return line.substr(0, std::min(slashes, semicolon));
}

// The digits after a prefix ("window07", "gauge12"), as a number; none when the rest is
// not one to three digits.
std::optional<int> numbered(const std::string& lowered, const std::string& prefix) {
    if (lowered.size() <= prefix.size() || lowered.size() > prefix.size() + 3 || lowered.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    int number = 0;
    for (std::size_t i = prefix.size(); i < lowered.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(lowered[i]))) return std::nullopt;
        number = number * 10 + (lowered[i] - '0');
    }
    return number;
}

// Keys panel files carry for the simulator's window handling, kept and shown as such.
const std::set<std::string> known_window_keys = {
    "position", "visible", "ident", "window_size_ratio", "window_pos", "window_size", "pixel_size", "zorder",
    "sizeable", "nomenu", "background_color", "alpha_blend", "type", "child_3d", "render_3d_window", "always_visible"};

enum class SectionKind { none, titles, window, other };

class Reader {
public:
    Reader(const fs::path& file) : file_(file), where_(display_path(file)) { panel_.file = file; }

    PanelFile read(const std::string& text) {
        if (text.size() > max_panel_file_bytes)
            throw PanelError(where_ + ": expected a panel file of at most 1 MiB (" + std::to_string(max_panel_file_bytes) +
                             " bytes), found " + std::to_string(text.size()) + " bytes");
        std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte-order mark from an editor
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            ++line_;
            read_line(text.substr(start, end - start));
            start = end + 1;
        }
        finish();
        return std::move(panel_);
    }

private:
    [[noreturn]] void fail(const std::string& expected, int line = 0) const {
        throw PanelError(where_ + ":" + std::to_string(line > 0 ? line : line_) + ": " + expected);
    }

    void read_line(const std::string& raw) {
        if (raw.find('\0') != std::string::npos) fail("expected text, found a NUL byte");
        const std::string line = trimmed(without_comment(raw));
        if (line.empty()) return;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3 || trimmed(line.substr(1, line.size() - 2)).empty())
                fail("expected a section header such as [Window00], a name between [ and ]");
            open_section(trimmed(line.substr(1, line.size() - 2)));
            return;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) fail("expected key=value or a [Section] header, found '" + line + "'");
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key.empty()) fail("expected a key before '='");
        if (section_ == SectionKind::none) fail("expected a [Section] header before the first key");
        const std::string lowered = lower(key);
        if (const auto [first, fresh] = keys_seen_.emplace(lowered, line_); !fresh)
            fail("expected each key once in [" + section_name_ + "]: " + key + " is already at line " +
                 std::to_string(first->second));
        switch (section_) {
            case SectionKind::titles: title_key(key, lowered, value); break;
            case SectionKind::window: window_key(key, lowered, value); break;
            case SectionKind::other: ++panel_.not_drawn.back().keys; break;
            case SectionKind::none: break;
        }
    }

    void open_section(const std::string& name) {
        const std::string lowered = lower(name);
        section_name_ = name;
        keys_seen_.clear();
        if (lowered == "window titles") {
            if (titles_line_ > 0)
                fail("expected one [Window Titles] section; the first is at line " + std::to_string(titles_line_));
            titles_line_ = line_;
            section_ = SectionKind::titles;
        } else if (const std::optional<int> number = numbered(lowered, "window")) {
            const int next = static_cast<int>(panel_.windows.size());
            if (*number != next)
                fail("expected [Window" + two_digits(next) + "] next: windows are numbered from 00 without gaps, found [" +
                     name + "]");
            Window window;
            window.number = *number;
            window.line = line_;
            panel_.windows.push_back(std::move(window));
            gauge_numbers_.clear();
            section_ = SectionKind::window;
        } else {
            panel_.not_drawn.push_back({name, line_, 0});
            section_ = SectionKind::other;
        }
    }

    void title_key(const std::string& key, const std::string& lowered, const std::string& value) {
        const std::optional<int> number = numbered(lowered, "window");
        if (!number) {
            panel_.title_keys.push_back({key, value, line_, false});
            return;
        }
        if (value.empty()) fail("expected a title after " + key + "=");
        if (titles_.count(*number) != 0)
            fail("expected one title per window: window" + two_digits(*number) + " is already titled at line " +
                 std::to_string(titles_.at(*number).second));
        titles_[*number] = {value, line_};
    }

    void window_key(const std::string& key, const std::string& lowered, const std::string& value) {
        Window& window = panel_.windows.back();
        if (lowered == "file") {
            window.background = background(value);
        } else if (lowered == "size_mm") {
            const std::vector<std::string> parts = split(value);
            if (parts.empty() || parts.size() > 2) fail("expected size_mm=W or size_mm=W,H, found '" + value + "'");
            window.size_width = number(parts[0], "the width W of size_mm", 1, max_panel_side);
            if (parts.size() == 2) window.size_height = number(parts[1], "the height H of size_mm", 1, max_panel_side);
        } else if (const std::optional<int> number = numbered(lowered, "gauge")) {
            if (++gauge_lines_ > max_gauge_lines)
                fail("expected at most " + std::to_string(max_gauge_lines) + " gauge lines in a panel file");
            if (const auto [first, fresh] = gauge_numbers_.emplace(*number, line_); !fresh)
                fail("expected one entry per gauge number: gauge" + two_digits(*number) + " is already at line " +
                     std::to_string(first->second));
            window.gauges.push_back(gauge(*number, value));
        } else {
            window.kept.push_back({key, value, line_, known_window_keys.count(lowered) != 0});
        }
    }

    // "a , b ,c" as {"a", "b", "c"}; an empty value has no parts.
    static std::vector<std::string> split(const std::string& value) {
        std::vector<std::string> parts;
        if (value.empty()) return parts;
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = value.find(',', start);
            parts.push_back(trimmed(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
            if (comma == std::string::npos) return parts;
            start = comma + 1;
        }
    }

    int number(const std::string& text, const std::string& what, int low, int high) const {
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size())
            fail("expected a whole number for " + what + ", found '" + text + "'");
        if (value < low || value > high)
            fail("expected " + what + " from " + std::to_string(low) + " to " + std::to_string(high) + ", found " + text);
        return value;
    }

    // A module or gauge name: plain, so that it can name a file and a message safely.
    std::string name(const std::string& text, const std::string& what, const std::string& value) const {
        const bool plain = !text.empty() && text.size() <= max_name_length &&
                           std::all_of(text.begin(), text.end(), [](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
                           });
        if (!plain)
            fail("expected " + what + " of at most " + std::to_string(max_name_length) +
                 " letters, digits, '_' or '-' in MODULE!GAUGE, found '" + value + "'");
        return text;
    }

    GaugeEntry gauge(int number_of_gauge, const std::string& value) const {
        const std::vector<std::string> parts = split(value);
        const std::string selector = parts.empty() ? "" : parts[0];
        const std::size_t bang = selector.find('!');
        if (bang == std::string::npos)
            fail("expected MODULE!GAUGE, x, y[, w[, h]] (the module file's name, '!', the gauge's name), found '" +
                 value + "'");
        GaugeEntry entry;
        entry.number = number_of_gauge;
        entry.line = line_;
        entry.module = name(trimmed(selector.substr(0, bang)), "a module name", value);
        entry.gauge = name(trimmed(selector.substr(bang + 1)), "a gauge name", value);
        if (parts.size() < 3) fail("expected x and y after " + selector + ", found '" + value + "'");
        if (parts.size() > 5) fail("expected at most MODULE!GAUGE, x, y, w, h, found '" + value + "'");
        entry.x = number(parts[1], "x", -max_panel_offset, max_panel_offset);
        entry.y = number(parts[2], "y", -max_panel_offset, max_panel_offset);
        if (parts.size() > 3) entry.width = number(parts[3], "the width w", 1, max_panel_side);
        if (parts.size() > 4) entry.height = number(parts[4], "the height h", 1, max_panel_side);
        return entry;
    }

    Background background(const std::string& value) const {
        if (value.empty() || value.find_first_of("/\\:") != std::string::npos || value == "." || value == "..")
            fail("expected file=NAME.bmp, a file in the panel file's folder, found '" + value + "'");
        const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
        fs::path found;
        try {
            found = find_module_file(folder, value, "");
        } catch (const std::exception& error) {
            fail(std::string("expected the folder of the background to be readable: ") + error.what());
        }
        if (found.empty()) fail("expected the background " + value + " in " + display_path(folder) + ", found no such file");
        Background background;
        background.name = value;
        background.file = found;
        background.line = line_;
        try {
            background.picture = read_bmp_file(found, display_path(found));
        } catch (const PanelError& error) {
            fail(std::string("expected file= to name a readable BMP: ") + error.what());
        }
        return background;
    }

    void finish() {
        for (const auto& [number, title] : titles_) {
            if (number >= static_cast<int>(panel_.windows.size()))
                fail("expected a [Window" + two_digits(number) + "] section for the title window" + two_digits(number) +
                         "=" + title.first,
                     title.second);
            panel_.windows[static_cast<std::size_t>(number)].title = title.first;
            panel_.windows[static_cast<std::size_t>(number)].titled = true;
        }
        for (Window& window : panel_.windows) {
            if (!window.titled) window.title = two_digits(window.number);
            std::sort(window.gauges.begin(), window.gauges.end(),
                      [](const GaugeEntry& a, const GaugeEntry& b) { return a.number < b.number; });
        }
    }

    fs::path file_;
    std::string where_;
    PanelFile panel_;
    int line_ = 0;
    SectionKind section_ = SectionKind::none;
    std::string section_name_;
    std::map<std::string, int> keys_seen_;  // lower-case key -> line, in the open section
    std::map<int, int> gauge_numbers_;      // NN -> line, in the open window
    std::map<int, std::pair<std::string, int>> titles_;
    std::size_t gauge_lines_ = 0;
    int titles_line_ = 0;
};

uint32_t le32(const std::vector<uint8_t>& bytes, std::size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 | uint32_t{bytes[at + 3]} << 24;
}

}  // namespace

pe::Picture read_bmp_file(const fs::path& file, const std::string& what) {
    const std::string expected = "expected an uncompressed BMP of 8 bits with a palette, or 24 or 32 bits";
    auto fail = [&](const std::string& why) -> void { throw PanelError(what + ": " + expected + " (" + why + ")"); };
    if (std::string problem = read_problem(file, false); !problem.empty()) throw PanelError(problem);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) fail(error.message());
    if (size > max_background_bytes) fail("it has " + std::to_string(size) + " bytes, more than a background may");
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t file_header = 14;
    if (bytes.size() < file_header + 40 || bytes[0] != 'B' || bytes[1] != 'M') fail("no 'BM' file header");
    // The pixels start where the file header says; the DIB reader wants them right after
    // the palette, so whatever lies between is left out.
    const std::size_t pixels_at = le32(bytes, 10);
    const std::size_t header_size = le32(bytes, file_header);
    const uint32_t bits = uint32_t{bytes[file_header + 14]} | uint32_t{bytes[file_header + 15]} << 8;
    const uint32_t colours_used = le32(bytes, file_header + 32);
    if (header_size < 40 || header_size > bytes.size() - file_header) fail("bad bitmap header size");
    const std::size_t palette_bytes = bits == 8 ? 4 * std::size_t{colours_used != 0 ? std::min(colours_used, 257u) : 256u} : 0;
    const std::size_t palette_end = file_header + header_size + palette_bytes;
    if (palette_end > bytes.size()) fail("truncated palette");
    if (pixels_at < palette_end || pixels_at > bytes.size())
        fail("the pixels are said to start at byte " + std::to_string(pixels_at) + ", expected from byte " +
             std::to_string(palette_end) + " to the end of the file");
    std::vector<uint8_t> dib(bytes.begin() + file_header, bytes.begin() + static_cast<std::ptrdiff_t>(palette_end));
    dib.insert(dib.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pixels_at), bytes.end());
    try {
        return pe::decode_dib(dib, display_path(file));
    } catch (const pe::PeError& bad) {
        const std::string reason = bad.what();
        const std::string prefix = display_path(file) + ": ";
        fail(reason.compare(0, prefix.size(), prefix) == 0 ? reason.substr(prefix.size()) : reason);
    }
    return {};
}



PanelFile parse_panel_text(const std::string& text, const fs::path& file) { return Reader(file).read(text); }

PanelFile read_panel_file(const fs::path& file) {
    if (std::string problem = read_problem(file, false); !problem.empty()) throw PanelError(problem);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && size > max_panel_file_bytes)
        throw PanelError(display_path(file) + ": expected a panel file of at most 1 MiB (" +
                         std::to_string(max_panel_file_bytes) + " bytes), found " + std::to_string(size) + " bytes");
    std::ifstream in(file, std::ios::binary);
    std::string text;
    text.resize(max_panel_file_bytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parse_panel_text(text, file);
}

}  // namespace kestrel::panel
