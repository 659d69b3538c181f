// Printing a module's records as the simulator reads them. Addresses never appear:
// routines are numbered by first appearance, pointers to data are shown as what they
// lead to, and host-owned words are checked to be zero as stored.
#include "module_listing.h"

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <utility>

#include "records.h"
#include "stored_module.h"

namespace kestrel {
namespace {

// A bound on failure lists, whose end is an all-zero entry.
constexpr std::size_t max_failure_entries = 64;

std::string hex(uint32_t value, int digits = 0) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Appends the parts in order (GCC 12 warns falsely on chains of literal + string).
template <typename... Parts>
std::string cat(const Parts&... parts) {
    std::string text;
    (text.append(std::string_view(parts)), ...);
    return text;
}

std::string point(PixelPoint p) { return cat("(", std::to_string(p.x), ",", std::to_string(p.y), ")"); }

std::string box(const PixelBox& b) {
    return cat("(", std::to_string(b.x), ",", std::to_string(b.y), ",", std::to_string(b.width), ",",
               std::to_string(b.height), ")");
}

// A text shown decoded from Windows-1252 says which stored byte its first letter beyond
// ASCII is, so that a reader who sees "Â" knows it is the module's own byte 0xC2.
std::string stored_byte_note(std::string_view stored) {
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto byte = static_cast<unsigned char>(stored[i]);
        if (byte < 0x80) continue;
        if (i == 0) return cat(" (Windows-1252: the stored text begins with byte ", hex(byte), ")");
        return cat(" (Windows-1252: stored byte ", std::to_string(i), " is ", hex(byte), ")");
    }
    return {};
}

// A name or tooltip text from a record: NULL, or quoted, checked against the bounds.
std::string quoted(const char* text, const RecordBounds& bounds, std::string_view what) {
    if (text == nullptr) return "NULL";
    const std::string_view stored = bounds.string(text, max_record_text, what);
    return cat("\"", cp1252_to_utf8(stored), "\"", stored_byte_note(stored));
}

// Names every routine by the order in which the listing first meets it.
class RoutineNames {
public:
    template <typename Routine>
    std::string operator()(Routine routine) {
        if (routine == nullptr) return "none";
        const auto key = reinterpret_cast<const void*>(routine);
        const auto [found, added] = numbers_.emplace(key, numbers_.size() + 1);
        return cat("routine #", std::to_string(found->second));
    }

private:
    std::map<const void*, std::size_t> numbers_;
};

// The bytes [begin, end) of a record that one field takes, as the record declares it.
struct ByteRange {
    std::size_t begin, end;
};
#define KESTREL_FIELD_BYTES(record, field) \
    (ByteRange{offsetof(record, field), offsetof(record, field) + sizeof(std::declval<record&>().field)})

// The words the host owns in each record, field by field from the declarations: the
// element header's, then the kind's own.
#define KESTREL_HEADER_HOST_OWNED(record) \
    KESTREL_FIELD_BYTES(record, header.previous_position), KESTREL_FIELD_BYTES(record, header.previous_element)
constexpr ByteRange gauge_header_host_owned[] = {KESTREL_FIELD_BYTES(GaugeHeader, host_owned_40),
                                                 KESTREL_FIELD_BYTES(GaugeHeader, host_owned_48),
                                                 KESTREL_FIELD_BYTES(GaugeHeader, host_owned_88)};
constexpr ByteRange static_image_host_owned[] = {KESTREL_HEADER_HOST_OWNED(StaticImageElement),
                                                 KESTREL_FIELD_BYTES(StaticImageElement, host_owned_60)};
constexpr ByteRange needle_host_owned[] = {
    KESTREL_HEADER_HOST_OWNED(NeedleElement), KESTREL_FIELD_BYTES(NeedleElement, host_owned_88),
    KESTREL_FIELD_BYTES(NeedleElement, host_owned_124), KESTREL_FIELD_BYTES(NeedleElement, host_owned_228)};
// The text pointer is the host's too: a stored read-out has it NULL.
constexpr ByteRange string_host_owned[] = {
    KESTREL_HEADER_HOST_OWNED(StringElement),       KESTREL_FIELD_BYTES(StringElement, host_owned_144),
    KESTREL_FIELD_BYTES(StringElement, text),       KESTREL_FIELD_BYTES(StringElement, host_owned_188),
    KESTREL_FIELD_BYTES(StringElement, host_owned_200), KESTREL_FIELD_BYTES(StringElement, host_owned_220),
    KESTREL_FIELD_BYTES(StringElement, host_owned_296), KESTREL_FIELD_BYTES(StringElement, host_owned_316)};
constexpr ByteRange icon_host_owned[] = {
    KESTREL_HEADER_HOST_OWNED(IconElement), KESTREL_FIELD_BYTES(IconElement, host_owned_88),
    KESTREL_FIELD_BYTES(IconElement, host_owned_96), KESTREL_FIELD_BYTES(IconElement, host_owned_116),
    KESTREL_FIELD_BYTES(IconElement, host_owned_136)};
#undef KESTREL_HEADER_HOST_OWNED
#undef KESTREL_FIELD_BYTES

// Byte offsets of nonzero words among the host-owned ranges of a record.
std::string host_owned_words(const void* record, std::span<const ByteRange> ranges) {
    const auto* bytes = static_cast<const unsigned char*>(record);
    std::string nonzero;
    for (const auto& [begin, end] : ranges)
        for (std::size_t at = begin; at < end; at += 4)
            if (bytes[at] | bytes[at + 1] | bytes[at + 2] | bytes[at + 3]) nonzero += cat(" ", std::to_string(at));
    return nonzero.empty() ? "zero" : cat("NONZERO at byte", nonzero);
}

std::string failure_list(const FailureEntry* list, const RecordBounds& bounds, std::string_view what) {
    if (list == nullptr) return "none";
    std::string text;
    for (std::size_t i = 0;; ++i) {
        if (i == max_failure_entries) return text + " (no end entry within " + std::to_string(max_failure_entries) + ")";
        const FailureEntry& entry = *bounds.check(list + i, what);
        if (entry.failure_key == 0 && entry.failure_action == 0 && entry.reserved == 0) break;
        text += cat(text.empty() ? "" : ", ", "{key ", std::to_string(entry.failure_key), ", action ",
                    std::to_string(entry.failure_action),
                    entry.reserved != 0 ? cat(", reserved ", std::to_string(entry.reserved)) : std::string(), "}");
    }
    return text.empty() ? "empty" : text;
}

// The walk of the tree has already checked every child list up to its NULL.
std::size_t child_count(const ElementHeader& element) {
    std::size_t count = 0;
    if (element.next_elements != nullptr)
        while (count < max_elements && element.next_elements[count] != nullptr) ++count;
    return count;
}

std::string module_var(const ModuleVar& variable) {
    // The host owns every word but the token; a stored record has them zero.
    const bool stored_zero = variable.var_ptr == nullptr && variable.var_type == 0 && variable.value == 0.0 &&
                             variable.previous_value == 0.0;
    return cat("token ", std::to_string(variable.token), stored_zero ? "" : " (host-owned words NONZERO)");
}

class Printer {
public:
    Printer(std::ostream& out, RoutineNames& routines, const RecordBounds& bounds)
        : out_(out), routines_(routines), bounds_(bounds) {}

    void gauge(const GaugeHeader& h) {
        out_ << "gauge " << quoted(h.gauge_name, bounds_, "gauge_name") << "\n";
        field(2, "header_version", hex(h.header_version));
        ElementHeader* root = h.element_list != nullptr ? *bounds_.check(h.element_list, "element_list") : nullptr;
        std::string element_list = "NULL";
        if (h.element_list != nullptr) {
            element_list = root == nullptr ? "a variable holding NULL" : "a variable holding the root element";
            if (root != nullptr && reinterpret_cast<const unsigned char*>(h.element_list) ==
                                       reinterpret_cast<const unsigned char*>(root) + sizeof(StaticImageElement))
                element_list += ", stored right after the root record";
        }
        field(2, "element_list", element_list);
        field(2, "query_routine", routines_(h.query_routine));
        field(2, "install_routine", routines_(h.install_routine));
        field(2, "initialize_routine", routines_(h.initialize_routine));
        field(2, "update_routine", routines_(h.update_routine));
        field(2, "generate_routine", routines_(h.generate_routine));
        field(2, "draw_routine", routines_(h.draw_routine));
        field(2, "kill_routine", routines_(h.kill_routine));
        field(2, "size_x_mm", std::to_string(h.size_x_mm));
        field(2, "mouse_rect_list", h.mouse_rect_list != nullptr ? "present" : "NULL");
        field(2, "gauge_callback", routines_(h.gauge_callback));
        field(2, "host-owned words", host_owned_words(&h, gauge_header_host_owned));
        if (root == nullptr) return;

        const auto elements = read_element_tree(root, bounds_);
        out_ << "  elements: " << elements.size() << " in drawing order\n";
        for (const ElementEntry& entry : elements) element(entry, h);
        if (h.mouse_rect_list == nullptr) return;
        const auto areas = read_mouse_list(h.mouse_rect_list, bounds_);
        out_ << "  click areas: " << areas.size() << " records\n";
        for (const MouseListEntry& entry : areas) area(entry);
    }

private:
    void field(std::size_t indent, std::string_view name, const std::string& value) {
        out_ << std::string(indent, ' ') << name;
        out_ << std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') << value << "\n";
    }

    void element(const ElementEntry& entry, const GaugeHeader& gauge) {
        const ElementHeader& e = *entry.element;
        const std::size_t indent = 4 + 2 * entry.depth;
        out_ << std::string(indent, ' ') << "[" << entry.index << "] " << entry.label << " "
             << element_kind_name(e.element_kind);
        if (e.element_kind != static_image_element && e.element_kind != needle_element &&
            e.element_kind != string_element && e.element_kind != icon_element)
            out_ << " " << e.element_kind;
        out_ << "\n";
        const std::size_t inner = indent + 4;
        field(inner, "resource_id", e.resource_id == no_resource ? "none (0xFFFFFFFF)" : std::to_string(e.resource_id));
        field(inner, "position", point(e.position));
        field(inner, "anchor", point(e.anchor));
        field(inner, "gauge_header", e.gauge_header == &gauge ? "this gauge" : e.gauge_header == nullptr ? "NULL" : "ANOTHER header");
        field(inner, "image_flags", hex(e.image_flags, 8));
        field(inner, "special_flags", std::to_string(e.special_flags));
        if (e.reserved != 0) field(inner, "reserved", hex(e.reserved));
        field(inner, "failure_list", failure_list(e.failure_list, bounds_, cat("element ", entry.label, ": failure_list")));
        field(inner, "next_elements", e.next_elements == nullptr ? "NULL" : std::to_string(child_count(e)) + " children");
        switch (e.element_kind) {
            case static_image_element: {
                const auto& image = reinterpret_cast<const StaticImageElement&>(e);
                field(inner, "host-owned words", host_owned_words(&image, static_image_host_owned));
                break;
            }
            case needle_element: {
                const auto& needle = reinterpret_cast<const NeedleElement&>(e);
                field(inner, "source_var", module_var(needle.source_var));
                std::string table = needle.nonlinearity_table == nullptr ? "NULL" : "";
                if (needle.nonlinearity_table != nullptr)
                    for (uint32_t i = 0; i < needle.nonlinearity_count && i < max_elements; ++i) {
                        const NonlinearityEntry& point_entry =
                            *bounds_.check(needle.nonlinearity_table + i, cat("element ", entry.label, ": nonlinearity_table"));
                        table += cat(i ? " " : "", point(point_entry.point), " at ", number(point_entry.value));
                    }
                field(inner, "nonlinearity", std::to_string(needle.nonlinearity_count) + " points: " + table);
                field(inner, "needle_rate", std::to_string(needle.needle_rate));
                field(inner, "value_callback", routines_(needle.value_callback));
                field(inner, "host-owned words", host_owned_words(&needle, needle_host_owned));
                break;
            }
            case string_element: {
                const auto& readout = reinterpret_cast<const StringElement&>(e);
                for (int i = 0; i < 3; ++i)
                    field(inner, cat("source_vars[", std::to_string(i), "]"), module_var(readout.source_vars[i]));
                field(inner, "size", std::to_string(readout.size.width) + " by " + std::to_string(readout.size.height));
                field(inner, "fore_colour", hex(readout.fore_colour, 8));
                field(inner, "back_colour", hex(readout.back_colour, 8));
                field(inner, "highlight_colour", hex(readout.highlight_colour, 8));
                std::string font(readout.font_name, sizeof readout.font_name);
                font.resize(font.find('\0') == std::string::npos ? font.size() : font.find('\0'));
                field(inner, "font_name", cat("\"", cp1252_to_utf8(font), "\" (inline)"));
                field(inner, "font_weight", std::to_string(readout.font_weight));
                field(inner, "font_charset", std::to_string(readout.font_charset));
                field(inner, "text_format", hex(readout.text_format));
                field(inner, "char_count", std::to_string(readout.char_count));
                field(inner, "value_callback", routines_(readout.value_callback));
                field(inner, "host-owned words", host_owned_words(&readout, string_host_owned));
                break;
            }
            case icon_element: {
                const auto& icon = reinterpret_cast<const IconElement&>(e);
                field(inner, "source_var", module_var(icon.source_var));
                field(inner, "icon_switch", std::to_string(icon.icon_switch));
                field(inner, "icon_count", std::to_string(icon.icon_count));
                field(inner, "value_callback", routines_(icon.value_callback));
                field(inner, "host-owned words", host_owned_words(&icon, icon_host_owned));
                break;
            }
            default: break;
        }
    }

    void area(const MouseListEntry& entry) {
        const MouseRect& r = *entry.record;
        out_ << "    [" << entry.index << "] " << std::string(2 * entry.depth, ' ') << mouse_rect_kind_name(r.rect_kind)
             << " box " << box(r.box);
        if (entry.whole_gauge)
            out_ << " whole gauge";
        else if (entry.parent && (r.rect_kind == mouse_parent || r.rect_kind == mouse_child))
            out_ << " in gauge " << box(entry.box);
        out_ << " cursor " << r.cursor << " help_id " << hex(r.help_id) << " mouse_flags " << hex(r.mouse_flags, 8)
             << " event_id " << hex(r.event_id);
        if (r.rect_kind == mouse_tooltip_text)
            out_ << " text " << quoted(r.target.tooltip, bounds_, cat("click-area record ", std::to_string(entry.index), ": tooltip"));
        else
            out_ << " handler " << routines_(r.target.handler);
        out_ << " api_data " << hex(r.api_data) << "\n";
    }

    std::ostream& out_;
    RoutineNames& routines_;
    const RecordBounds& bounds_;
};

}  // namespace

void inspect_gauge(const GaugeHeader& header, std::ostream& out) {
    RoutineNames routines;
    Printer(out, routines, no_bounds).gauge(header);
}

void inspect(const StoredModule& module, std::ostream& out) {
    // The listing is composed first, so that a fault found halfway prints nothing but its line.
    std::ostringstream text;
    const RecordBounds& bounds = module.bounds();
    RoutineNames routines;
    const LinkageHead& linkage = module.linkage();
    try {
        text << "module " << module.file_name() << "\n";
        text << "Linkage\n";
        text << "  module_id         " << hex(linkage.module_id) << "\n";
        text << "  module_init       " << routines(linkage.module_init) << "\n";
        text << "  module_deinit     " << routines(linkage.module_deinit) << "\n";
        text << "  module_flags      " << hex(linkage.module_flags) << "\n";
        text << "  module_priority   " << hex(linkage.module_priority) << "\n";
        text << "  module_version    " << hex(linkage.module_version) << "\n";
        text << "  gauge_table       " << module.gauges().size() << " gauge(s), then NULL:";
        for (const GaugeHeader* header : module.gauges()) {
            const char* name = header->gauge_name;
            text << " \"" << (name != nullptr ? std::string(bounds.string(name, max_record_text, "gauge_name")) : "(no name)")
                 << "\"";
        }
        text << "\n";
        const ImportTableRecord& imports = module.import_table();
        text << "ImportTable\n";
        text << "  import_id         " << hex(imports.import_id) << "\n";
        text << "  panel_services    " << (imports.panel_services == nullptr ? "NULL" : "set by a host") << "\n";
        text << "  terminator        " << hex(imports.terminator_id) << ", "
             << (imports.terminator_pointer == nullptr ? "NULL" : "NOT NULL") << "\n";
        Printer printer(text, routines, bounds);
        for (std::size_t i = 0; i < module.gauges().size(); ++i) {
            try {
                printer.gauge(*module.gauges()[i]);
            } catch (const HostError& error) {
                throw HostError(cat("gauge ", std::to_string(i), ": ", error.what()));
            }
        }
    } catch (const HostError& error) {
        throw HostError(cat(module.path().string(), ": ", error.what()));
    }
    out << text.str();
}

void inspect(const LoadedModule& module, std::ostream& out) { inspect(StoredModule::read(module.path()), out); }

}  // namespace kestrel
