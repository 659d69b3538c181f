// The scenario parser: splits each line into words (a quoted text is one word), checks
// every word against what its command expects and names the line of the first fault.
#include "scenario.h"

#include "module_lookup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <unordered_map>

namespace kestrel::scenario {

ScenarioError::ScenarioError(const std::string& file, int line, const std::string& what)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what), line_(line) {}

std::string Scenario::name() const { return std::filesystem::path(file).stem().string(); }

std::optional<int64_t> parse_whole_number(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16) return std::nullopt;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

std::optional<double> parse_value(std::string_view text) {
    // A value may be written as a token is, in 0x hexadecimal; from_chars would stop at the x.
    const std::string_view digits = text.substr(!text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0);
    if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        const std::optional<int64_t> whole = parse_whole_number(text);
        return whole ? std::optional<double>(static_cast<double>(*whole)) : std::nullopt;
    }
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One line being read. Every fault goes through fail(), so each message carries the
// file and line.
class LineReader {
public:
    LineReader(const std::string& file, int line) : file_(file), line_(line) {}

    [[noreturn]] void fail(const std::string& what) const { throw ScenarioError(file_, line_, what); }

    // Splits the line into words; a '#' outside quotes starts a comment, and code_end
    // tells where the line's code ends.
    std::vector<Word> split(std::string_view text, std::size_t& code_end) const {
        std::vector<Word> words;
        code_end = text.size();
        std::size_t i = 0;
        while (i < text.size()) {
            if (is_blank(text[i])) {
                ++i;
                continue;
            }
            if (text[i] == '#') {
                code_end = i;
                break;
            }
            Word word;
            if (text[i] == '"') {
                word.quoted = true;
                ++i;
                bool closed = false;
                while (i < text.size()) {
                    const char c = text[i++];
                    if (c == '"') {
                        closed = true;
                        break;
                    }
                    if (c != '\\') {
                        word.text += c;
                        continue;
                    }
                    if (i >= text.size()) break;
                    const char escaped = text[i++];
                    if (escaped == '"' || escaped == '\\') {
                        word.text += escaped;
                    } else if (escaped == 'x' && i + 1 < text.size() && hex_digit(text[i]) >= 0 &&
                               hex_digit(text[i + 1]) >= 0) {
                        word.text += static_cast<char>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1]));
                        i += 2;
                    } else {
                        fail(std::string("unknown escape '\\") + escaped +
                             "' in a quoted text (use \\\", \\\\ or \\xHH)");
                    }
                }
                if (!closed) fail("expected a closing '\"' at the end of the quoted text");
                if (i < text.size() && !is_blank(text[i]) && text[i] != '#')
                    fail("expected a blank after the closing '\"'");
            } else {
                while (i < text.size() && !is_blank(text[i]) && text[i] != '#') word.text += text[i++];
            }
            words.push_back(std::move(word));
        }
        return words;
    }

private:
    const std::string& file_;
    int line_;
};

// Reads the words of one command in order, with messages that say what was expected.
class Arguments {
public:
    Arguments(const LineReader& reader, std::vector<Word> words, std::string command)
        : reader_(reader), words_(std::move(words)), command_(std::move(command)) {}

    bool more() const { return next_ < words_.size(); }

    const Word& take(const std::string& expected) {
        if (!more()) reader_.fail("expected " + expected + " after '" + command_ + "'");
        return words_[next_++];
    }

    std::string plain(const std::string& expected) {
        const Word& word = take(expected);
        if (word.quoted) reader_.fail("expected " + expected + ", found a quoted text");
        return word.text;
    }

    // Decimal or 0x-hexadecimal, optionally signed, within [low, high].
    int64_t integer(const std::string& expected, int64_t low, int64_t high) {
        const std::string text = plain(expected);
        std::optional<int64_t> parsed = parse_whole_number(text);
        if (!parsed) reader_.fail("expected " + expected + ", found '" + text + "'");
        if (*parsed < low || *parsed > high)
            reader_.fail(expected + " must lie between " + std::to_string(low) + " and " + std::to_string(high) +
                         ", found '" + text + "'");
        return *parsed;
    }

    uint32_t word32(const std::string& expected) {
        return static_cast<uint32_t>(integer(expected, std::numeric_limits<int32_t>::min(), 0xFFFFFFFFll));
    }

    double real(const std::string& expected) {
        const std::string text = plain(expected);
        std::optional<double> parsed = parse_value(text);
        if (!parsed) reader_.fail("expected " + expected + ", found '" + text + "'");
        return *parsed;
    }

    std::string element_label() {
        if (panel_) {
            std::string label = plain("an element as MODULE!GAUGE:[N], e.g. KESTREL!AP:[2]");
            if (!parse_panel_element(label))
                reader_.fail("expected an element of a panel as MODULE!GAUGE:[N] (its drawing-order index) or "
                             "MODULE!GAUGE:0.1.0 (its tree path), e.g. KESTREL!AP:[2], found '" + label + "'");
            return label;
        }
        std::string label = plain("an element: its drawing-order index such as [3], or its tree path such as 0.1.0");
        if (!is_valid_element_label(label))
            reader_.fail("expected an element as its drawing-order index such as [3] or its tree path such as 0.1.0, found '" +
                         label + "'");
        return label;
    }

    // Elements are named as a panel scenario names them.
    void for_panel(bool panel) { panel_ = panel; }

    void finish() const {
        if (more())
            reader_.fail("unexpected '" + words_[next_].text + "' at the end of the '" + command_ + "' command");
    }

private:
    const LineReader& reader_;
    std::vector<Word> words_;
    std::size_t next_ = 0;
    std::string command_;
    bool panel_ = false;
};

KeyEvent parse_key_event(const LineReader& reader, const std::string& word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos)
        reader.fail("expected a key event as ID=VALUE (e.g. 0x1024C=1000), found '" + word + "'");
    const auto id = parse_whole_number(std::string_view(word).substr(0, equals));
    const auto value = parse_whole_number(std::string_view(word).substr(equals + 1));
    if (!id || *id < 0 || *id > 0xFFFFFFFFll)
        reader.fail("expected a key event id before '=' in '" + word + "'");
    if (!value || *value < std::numeric_limits<int32_t>::min() || *value > 0xFFFFFFFFll)
        reader.fail("expected a 32-bit key event value after '=' in '" + word + "'");
    return {static_cast<uint32_t>(*id), static_cast<uint32_t>(*value)};
}

Action parse_expectation(const LineReader& reader, Arguments& args) {
    const std::string what = args.plain("what to expect: text, value, flags, hidden, shown, keys or picture");
    if (what == "text") {
        std::string element = args.element_label();
        const Word& text = args.take("the text to expect, in double quotes");
        if (!text.quoted) reader.fail("expected the text in double quotes, e.g. \" 9:05\", found '" + text.text + "'");
        return ExpectText{std::move(element), text.text};
    }
    if (what == "value") {
        std::string element = args.element_label();
        return ExpectValue{std::move(element), args.real("the expected value (a number)")};
    }
    if (what == "flags") {
        std::string element = args.element_label();
        return ExpectFlags{std::move(element), args.word32("the expected image_flags (e.g. 0x40000005)")};
    }
    if (what == "hidden" || what == "shown") return ExpectHidden{args.element_label(), what == "hidden"};
    if (what == "keys") {
        ExpectKeys expect;
        const Word& first = args.take("key events as ID=VALUE, or 'none'");
        if (!first.quoted && first.text == "none") return expect;
        expect.events.push_back(parse_key_event(reader, first.text));
        while (args.more()) expect.events.push_back(parse_key_event(reader, args.plain("a key event as ID=VALUE")));
        return expect;
    }
    if (what == "picture") {
        ExpectPicture expect;
        expect.reference = args.plain("a reference picture, a .png file relative to the scenario");
        if (!is_valid_reference_path(expect.reference))
            reader.fail("expected a reference picture as a relative path below the scenario's folder, of letters, "
                        "digits, '-', '_' and '.' and ending in .png, found '" + expect.reference + "'");
        if (args.more())
            expect.tolerance = static_cast<uint64_t>(args.integer("the number of pixels that may differ", 0,
                                                                  static_cast<int64_t>(max_picture_tolerance)));
        return expect;
    }
    reader.fail("expected text, value, flags, hidden, shown, keys or picture after 'expect', found '" + what + "'");
}

}  // namespace

std::optional<std::size_t> element_index_label(std::string_view label) {
    if (label.size() < 3 || label.size() > 7 || label.front() != '[' || label.back() != ']') return std::nullopt;
    std::size_t index = 0;
    const auto [end, error] = std::from_chars(label.data() + 1, label.data() + label.size() - 1, index);
    if (error != std::errc() || end != label.data() + label.size() - 1) return std::nullopt;
    return index;
}

bool click_on_gauge(const Click& click, int width, int height) {
    return click.x >= 0 && click.y >= 0 && click.x < width && click.y < height;
}

std::string click_outside_gauge(const Click& click, const std::string& gauge, int width, int height) {
    return "pixel (" + std::to_string(click.x) + ", " + std::to_string(click.y) + ") is outside gauge " + gauge + " (" +
           std::to_string(width) + " by " + std::to_string(height) + " pixels, from (0, 0) to (" +
           std::to_string(width - 1) + ", " + std::to_string(height - 1) + "))";
}

bool is_valid_element_label(std::string_view label) {
    if (element_index_label(label)) return true;
    // Digits separated by single dots, starting with the root "0".
    if (label.empty() || label.front() == '.' || label.back() == '.') return false;
    if (label.substr(0, 1) != "0" || (label.size() > 1 && label[1] != '.')) return false;
    char previous = '.';
    for (char c : label) {
        if (c == '.' && previous == '.') return false;
        if (c != '.' && !std::isdigit(static_cast<unsigned char>(c))) return false;
        previous = c;
    }
    return true;
}

std::optional<PanelElement> parse_panel_element(std::string_view label) {
    const std::size_t bang = label.find('!');
    const std::size_t colon = label.find(':');
    if (bang == std::string_view::npos || colon == std::string_view::npos || bang == 0 || colon <= bang + 1) return std::nullopt;
    PanelElement element{std::string(label.substr(0, bang)), std::string(label.substr(bang + 1, colon - bang - 1)),
                         std::string(label.substr(colon + 1))};
    const auto is_name = [](const std::string& name) {
        return name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
                   return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
               });
    };
    if (!is_name(element.module) || !is_name(element.gauge) || !is_valid_element_label(element.element)) return std::nullopt;
    return element;
}

bool is_valid_picture_label(std::string_view label) {
    if (label.empty() || label.size() > 64 || label.front() == '.') return false;
    return std::all_of(label.begin(), label.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
}

bool is_valid_reference_path(std::string_view path) {
    constexpr std::string_view extension = ".png";
    if (path.size() > 200 || path.size() <= extension.size() || path.substr(path.size() - extension.size()) != extension)
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        if (!is_valid_picture_label(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)))
            return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool is_expectation(const Action& action) {
    return std::holds_alternative<ExpectText>(action) || std::holds_alternative<ExpectValue>(action) ||
           std::holds_alternative<ExpectFlags>(action) || std::holds_alternative<ExpectHidden>(action) ||
           std::holds_alternative<ExpectKeys>(action) || std::holds_alternative<ExpectPicture>(action);
}

Scenario parse_scenario(std::string_view text, const std::string& file) {
    Scenario scenario;
    scenario.file = file;
    int line_number = 0;
    int module_line = 0;
    int gauge_line = 0;
    uint64_t total_updates = 0;
    std::unordered_map<std::string, int> picture_lines;  // label to the line that took it
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (end == text.size() && line.empty()) break;  // nothing after the last newline
        ++line_number;

        LineReader reader(file, line_number);
        std::size_t code_end = 0;
        std::vector<Word> words = reader.split(line, code_end);
        if (words.empty()) continue;
        if (words[0].quoted) reader.fail("expected a command name, found a quoted text");
        const std::string name = words[0].text;
        // The line as written, for progress reports: up to a comment, without trailing blanks.
        std::string written(line.substr(0, code_end));
        while (!written.empty() && is_blank(written.back())) written.pop_back();
        while (!written.empty() && is_blank(written.front())) written.erase(0, 1);

        Arguments args(reader, std::vector<Word>(words.begin() + 1, words.end()), name);
        args.for_panel(scenario.panel.has_value());
        if (name == "panel" || name == "window") {
            if (module_line != 0 || gauge_line != 0)
                reader.fail("expected either 'module' and 'gauge' or 'panel', not both (line " +
                            std::to_string(module_line != 0 ? module_line : gauge_line) + ")");
            if (!scenario.commands.empty())
                reader.fail("expected '" + name + "' before the first command (line " +
                            std::to_string(scenario.commands.front().line) + ")");
            if (name == "panel") {
                if (scenario.panel)
                    reader.fail("a second 'panel' line; the first is on line " + std::to_string(scenario.panel->line));
                const Word& value = args.take("a panel file, e.g. panel.cfg, relative to the scenario's folder");
                if (value.text.empty()) reader.fail("expected a non-empty panel file name");
                scenario.panel = PanelSource{value.text, line_number, 0, 0};
            } else {
                if (!scenario.panel) reader.fail("expected 'panel FILE' before 'window N'");
                if (scenario.panel->window_line != 0)
                    reader.fail("a second 'window' line; the first is on line " + std::to_string(scenario.panel->window_line));
                scenario.panel->window = static_cast<int>(args.integer("a window number, NN of [WindowNN]", 0, 99));
                scenario.panel->window_line = line_number;
            }
            args.finish();
            continue;
        }
        if (name == "module" || name == "gauge") {
            int& seen = name == "module" ? module_line : gauge_line;
            if (scenario.panel)
                reader.fail("expected either 'module' and 'gauge' or 'panel', not both (line " +
                            std::to_string(scenario.panel->line) + ")");
            if (seen != 0)
                reader.fail("a second '" + name + "' line; the first is on line " + std::to_string(seen));
            if (!scenario.commands.empty())
                reader.fail("expected '" + name + "' before the first command (line " +
                            std::to_string(scenario.commands.front().line) + ")");
            const Word& value = args.take(name == "module" ? "a module name, e.g. KESTREL_TIMER"
                                                           : "a gauge name, e.g. Digital_Clock");
            (name == "module" ? scenario.module : scenario.gauge) = value.text;
            if (value.text.empty()) reader.fail("expected a non-empty " + name + " name");
            if (name == "module" && value.text.find_first_of("/\\.") != std::string::npos)
                reader.fail("expected a module name without directory or extension, found '" + value.text + "'");
            args.finish();
            seen = line_number;
            continue;
        }
        if (!scenario.panel && (module_line == 0 || gauge_line == 0))
            reader.fail(std::string("expected '") + (module_line == 0 ? "module NAME" : "gauge NAME") +
                        "' (or 'panel FILE') before the first command");

        Action action;
        if (name == "set") {
            const auto token = static_cast<uint32_t>(args.integer("a host variable token", 0, 0xFFFFFFFFll));
            action = SetVariable{token, args.real("a value for the variable")};
        } else if (name == "update") {
            RunUpdates updates{1};
            if (args.more())
                updates.count = static_cast<uint64_t>(args.integer(
                    "a number of updates", 1, static_cast<int64_t>(max_updates_per_scenario)));
            total_updates += updates.count;
            if (total_updates > max_updates_per_scenario)
                reader.fail("the scenario runs " + std::to_string(total_updates) + " updates by this line, more than the " +
                            std::to_string(max_updates_per_scenario) + " a scenario may run");
            action = updates;
        } else if (name == "click") {
            Click click{};
            click.x = static_cast<int32_t>(args.integer("the x pixel of the click", INT32_MIN, INT32_MAX));
            click.y = static_cast<int32_t>(args.integer("the y pixel of the click", INT32_MIN, INT32_MAX));
            click.flags = args.more() ? args.word32("the click's flag bits (e.g. 0x20000000)") : default_click_flags;
            action = click;
        } else if (name == "service") {
            CallService service{};
            service.service_id = static_cast<int32_t>(args.integer("a service id", INT32_MIN, INT32_MAX));
            service.extra = args.more() ? args.word32("the service's extra word") : 0;
            action = service;
        } else if (name == "key") {
            SendKey key{};
            key.event.id = static_cast<uint32_t>(args.integer("a key event id", 0, 0xFFFFFFFFll));
            key.event.value = args.more() ? args.word32("the key event's value") : 0;
            action = key;
        } else if (name == "picture") {
            const std::string label = args.plain("a picture label");
            if (!is_valid_picture_label(label))
                reader.fail("expected a picture label of letters, digits, '-', '_' or '.', found '" + label + "'");
            if (const auto [earlier, added] = picture_lines.emplace(label, line_number); !added)
                reader.fail("picture label '" + label + "' is already used on line " + std::to_string(earlier->second));
            action = TakePicture{label};
        } else if (name == "expect") {
            action = parse_expectation(reader, args);
        } else {
            reader.fail("expected a command (set, update, click, service, key, picture or expect), found '" + name +
                        "'");
        }
        args.finish();
        scenario.commands.push_back({line_number, std::move(written), std::move(action)});
    }
    scenario.module_line = module_line;
    scenario.gauge_line = gauge_line;
    if (!scenario.panel && (module_line == 0 || gauge_line == 0))
        throw ScenarioError(file, std::max(line_number, 1),
                            std::string("expected a '") + (module_line == 0 ? "module" : "gauge") +
                                "' line naming the " + (module_line == 0 ? "module" : "gauge") + " to run");
    return scenario;
}

Scenario read_scenario(const std::filesystem::path& path) {
    const std::string name = display_path(path);
    if (const std::string problem = read_problem(path, false); !problem.empty())
        throw ScenarioError(name, 0, problem.substr(name.size() + 2));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ScenarioError(name, 0, "cannot read: the file went away");
    std::error_code error;
    if (const auto size = std::filesystem::file_size(path, error); !error && size > max_scenario_bytes)
        throw ScenarioError(name, 0,
                            "expected a scenario of at most " + std::to_string(max_scenario_bytes) + " bytes, found " +
                                std::to_string(size));
    std::ostringstream text;
    text << in.rdbuf();
    return parse_scenario(text.str(), name);
}

std::string quote_text(std::string_view text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string format_key_event(const KeyEvent& event) {
    char text[40];
    std::snprintf(text, sizeof text, "0x%X=%d", event.id, static_cast<int32_t>(event.value));
    return text;
}

}  // namespace kestrel::scenario
