// Reading a gauge's element tree and click-area list, with bounds on every walk so that a
// malformed record ends in a clear error rather than a hang or a wild read.
#include "records.h"

#include <cstdint>
#include <cstring>
#include <unordered_set>

namespace kestrel {

void RecordBounds::check(const void* address, std::size_t size, std::size_t alignment, std::string_view what) const {
    if (!bounded()) return;
    const auto at = reinterpret_cast<uintptr_t>(address);
    const auto first = reinterpret_cast<uintptr_t>(begin), last = reinterpret_cast<uintptr_t>(end);
    if (at < first || at > last || size > last - at)
        throw HostError(std::string(what) + " points outside the module's image");
    if (alignment > 1 && at % alignment != 0)
        throw HostError(std::string(what) + " is not aligned to " + std::to_string(alignment) + " bytes");
}

std::string_view RecordBounds::string(const char* address, std::size_t max_length, std::string_view what) const {
    if (!bounded()) return std::string_view(address, strnlen(address, max_length + 1)).substr(0, max_length);
    check(address, 1, 1, what);
    const std::size_t room = static_cast<std::size_t>(end - reinterpret_cast<const unsigned char*>(address));
    const std::size_t length = strnlen(address, std::min(room, max_length + 1));
    if (length == room) throw HostError(std::string(what) + " runs past the end of the module's image");
    if (length > max_length)
        throw HostError(std::string(what) + " is longer than " + std::to_string(max_length) + " bytes");
    return {address, length};
}

std::vector<GaugeHeader*> read_gauge_table(const LinkageHead& linkage, const RecordBounds& bounds) {
    const auto* table =
        reinterpret_cast<GaugeHeader* const*>(reinterpret_cast<const unsigned char*>(&linkage) + linkage_table_offset);
    std::vector<GaugeHeader*> gauges;
    for (std::size_t i = 0;; ++i) {
        if (i == max_gauges)
            throw HostError("Linkage gauge table has no NULL entry within " + std::to_string(max_gauges) + " entries");
        GaugeHeader* header = *bounds.check(table + i, "Linkage gauge table");
        if (header == nullptr) return gauges;
        bounds.check(header, "Linkage gauge table entry " + std::to_string(i));
        gauges.push_back(header);
    }
}

std::size_t element_record_size(uint32_t kind) {
    switch (kind) {
        case static_image_element: return sizeof(StaticImageElement);
        case needle_element: return sizeof(NeedleElement);
        case string_element: return sizeof(StringElement);
        case icon_element: return sizeof(IconElement);
        default: return sizeof(ElementHeader);
    }
}

std::string_view element_kind_name(uint32_t kind) {
    switch (kind) {
        case static_image_element: return "StaticImageElement";
        case needle_element: return "NeedleElement";
        case string_element: return "StringElement";
        case icon_element: return "IconElement";
        default: return "unknown element kind";
    }
}

ElementCallback value_callback_of(const ElementHeader& element) {
    switch (element.element_kind) {
        case needle_element: return reinterpret_cast<const NeedleElement&>(element).value_callback;
        case string_element: return reinterpret_cast<const StringElement&>(element).value_callback;
        case icon_element: return reinterpret_cast<const IconElement&>(element).value_callback;
        default: return nullptr;
    }
}

namespace {

struct TreeReader {
    const RecordBounds& bounds;
    std::vector<ElementEntry> entries;
    std::unordered_set<const ElementHeader*> seen;

    void visit(ElementHeader* element, const std::string& label, std::size_t depth) {
        if (depth > max_element_depth)
            throw HostError("element tree: element " + label + " lies deeper than " + std::to_string(max_element_depth) +
                            " levels");
        const std::string what = "element tree: element " + label;
        bounds.check(element, sizeof(ElementHeader), alignof(ElementHeader), what);
        bounds.check(element, element_record_size(element->element_kind), alignof(ElementHeader), what);
        if (!seen.insert(element).second)
            throw HostError(what + " was already reached (a cycle or a shared child)");
        if (entries.size() == max_elements)
            throw HostError("element tree: more than " + std::to_string(max_elements) + " elements");
        entries.push_back({entries.size(), label, depth, element});
        ElementHeader* const* children = element->next_elements;
        if (children == nullptr) return;
        for (std::size_t child = 0;; ++child) {
            if (child == max_elements)
                throw HostError("element tree: the child list of element " + label + " has no NULL entry");
            bounds.check(children + child, "element tree: the child list of element " + label);
            if (children[child] == nullptr) break;
            visit(children[child], label + "." + std::to_string(child), depth + 1);
        }
    }
};

}  // namespace

std::vector<ElementEntry> read_element_tree(ElementHeader* root, const RecordBounds& bounds) {
    if (root == nullptr) throw HostError("element tree: the root element is NULL");
    TreeReader reader{bounds, {}, {}};
    reader.visit(root, "0", 0);
    return std::move(reader.entries);
}

std::string_view mouse_rect_kind_name(uint32_t kind) {
    switch (kind) {
        case mouse_end_of_list: return "end of list";
        case mouse_parent: return "parent";
        case mouse_child: return "child";
        case mouse_end_of_parent: return "end of parent";
        case mouse_tooltip_text: return "tooltip";
        default: return "unknown";
    }
}

bool box_contains(const PixelBox& box, int32_t x, int32_t y) {
    // 64-bit sums: a box near the edge of the 32-bit range must not overflow.
    const int64_t px = x, py = y;
    return px >= box.x && px < int64_t{box.x} + box.width && py >= box.y && py < int64_t{box.y} + box.height;
}

std::vector<MouseListEntry> read_mouse_list(const MouseRect* list, const RecordBounds& bounds) {
    if (list == nullptr) throw HostError("click-area list: mouse_rect_list is NULL");
    std::vector<MouseListEntry> entries;
    std::vector<std::size_t> open_parents;  // indices into entries
    auto bad = [](std::size_t index, const std::string& what) -> HostError {
        return HostError("click-area list: record " + std::to_string(index) + ": " + what);
    };
    for (std::size_t index = 0;; ++index) {
        if (index == max_mouse_records)
            throw HostError("click-area list: no end-of-list record within " + std::to_string(max_mouse_records) +
                            " records");
        const MouseRect& record = *bounds.check(list + index, "click-area list: record " + std::to_string(index));
        MouseListEntry entry{index, &record, open_parents.size(), std::nullopt, record.box, false, nullptr};
        if (!open_parents.empty()) {
            const MouseListEntry& parent = entries[open_parents.back()];
            entry.parent = parent.index;
            entry.box.x = static_cast<int32_t>(int64_t{parent.box.x} + record.box.x);
            entry.box.y = static_cast<int32_t>(int64_t{parent.box.y} + record.box.y);
        }
        switch (record.rect_kind) {
            case mouse_parent:
                entry.whole_gauge = open_parents.empty() && record.box.x == 0 && record.box.y == 0 &&
                                    record.box.width == 0 && record.box.height == 0;
                entries.push_back(entry);
                open_parents.push_back(entries.size() - 1);
                break;
            case mouse_child:
                if (open_parents.empty()) throw bad(index, "a child outside any parent");
                entries.push_back(entry);
                break;
            case mouse_tooltip_text: {
                if (open_parents.empty()) throw bad(index, "a tooltip text outside any parent");
                MouseListEntry& parent = entries[open_parents.back()];
                if (parent.tooltip != nullptr)
                    throw bad(index, "a second tooltip text for the parent at record " + std::to_string(parent.index));
                parent.tooltip = record.target.tooltip;
                entries.push_back(entry);
                break;
            }
            case mouse_end_of_parent:
                if (open_parents.empty()) throw bad(index, "an end of parent without an open parent");
                entry.depth = open_parents.size() - 1;
                open_parents.pop_back();
                entries.push_back(entry);
                break;
            case mouse_end_of_list:
                if (!open_parents.empty())
                    throw bad(index, "the list ends with " + std::to_string(open_parents.size()) +
                                         " parent(s) still open (first at record " +
                                         std::to_string(entries[open_parents.front()].index) + ")");
                entries.push_back(entry);
                return entries;
            default:
                throw bad(index, "unknown rect_kind " + std::to_string(record.rect_kind));
        }
    }
}

std::string cp1252_to_utf8(std::string_view text) {
    // 0x80..0x9F differ from Latin-1; 0 marks the five bytes Windows-1252 leaves unassigned.
    static constexpr char16_t high[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        char32_t code = c;
        if (c >= 0x80 && c < 0xA0) code = high[c - 0x80] != 0 ? high[c - 0x80] : 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace kestrel
