// How the host reads a gauge's records: the element tree in drawing order, and the
// click-area list with each box turned into gauge pixels. Both walks are bounded and
// report a malformed record as a HostError; given the bounds of a module's stored image,
// they also check every record they reach to lie inside it, aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linkage.h"
#include "loader.h"

namespace kestrel {

// The memory a module's records occupy. Every record and list that a walk or the listing
// follows is checked against it before it is read: inside, aligned, strings ended. The
// default (no bounds) is for records the caller holds directly or a module it runs.
struct RecordBounds {
    const unsigned char* begin = nullptr;
    const unsigned char* end = nullptr;

    bool bounded() const { return begin != nullptr; }
    // Throws HostError "what: ..." unless size bytes at address lie inside, aligned.
    void check(const void* address, std::size_t size, std::size_t alignment, std::string_view what) const;
    template <typename T>
    const T* check(const T* address, std::string_view what, std::size_t count = 1) const {
        if (count > (SIZE_MAX / sizeof(T))) check(nullptr, SIZE_MAX, alignof(T), what);
        check(address, sizeof(T) * count, alignof(T), what);
        return address;
    }
    // The NUL-terminated text at address, at most max_length bytes before its NUL.
    std::string_view string(const char* address, std::size_t max_length, std::string_view what) const;
};
inline constexpr RecordBounds no_bounds{};

// Longest name or tooltip text the host reads from a module.
inline constexpr std::size_t max_record_text = 1024;

// Linkage's gauge table, which sits inline after its fixed words and ends at its NULL
// entry: the headers it names, each entry and header inside the bounds. Throws HostError
// on a record outside them, or on a table with no NULL entry within max_gauges entries
// (a module that names more gauges has lost its NULL entry).
inline constexpr std::size_t max_gauges = 256;
std::vector<GaugeHeader*> read_gauge_table(const LinkageHead& linkage, const RecordBounds& bounds);

// One element of a tree in drawing order (pre-order, depth first: an element before its
// children, earlier children before later ones).
struct ElementEntry {
    std::size_t index;       // position in drawing order
    std::string label;       // child positions from the root: "0", "0.1", "0.1.0"
    std::size_t depth;       // 0 for the root
    ElementHeader* element;
};

// Walks the tree from root. Throws HostError on an element reached twice (a cycle or a
// shared child), more than max_elements elements or max_element_depth levels, a child
// list without its NULL, or a record outside the bounds.
inline constexpr std::size_t max_elements = 4096;
inline constexpr std::size_t max_element_depth = 64;
std::vector<ElementEntry> read_element_tree(ElementHeader* root, const RecordBounds& bounds = no_bounds);

// The size of an element's record by its kind (the common header for unknown kinds).
std::size_t element_record_size(uint32_t kind);

std::string_view element_kind_name(uint32_t kind);
// The element's callback, whatever its kind; nullptr for kinds without one.
ElementCallback value_callback_of(const ElementHeader& element);

// One record of a click-area list.
struct MouseListEntry {
    std::size_t index;            // position in the list
    const MouseRect* record;
    std::size_t depth;            // parents enclosing this record (0 for the outermost parent)
    std::optional<std::size_t> parent;  // index of the enclosing parent record
    PixelBox box;                 // in gauge pixels (the stored box plus the parents' origins)
    bool whole_gauge;             // the outermost parent with box (0,0,0,0): every point
    const char* tooltip;          // parents: the text of their tooltip record, or nullptr
};

// Reads a list up to and including its end-of-list record. Throws HostError (naming the
// record index) on an end of parent without a parent, a child or tooltip outside a
// parent, a second tooltip for one parent, parents still open at the end of the list,
// an unknown rect_kind, or more than max_mouse_records records without an end.
inline constexpr std::size_t max_mouse_records = 4096;
std::vector<MouseListEntry> read_mouse_list(const MouseRect* list, const RecordBounds& bounds = no_bounds);

std::string_view mouse_rect_kind_name(uint32_t kind);

bool box_contains(const PixelBox& box, int32_t x, int32_t y);

// Windows-1252 text (tooltips) as UTF-8; the five unassigned bytes become U+FFFD.
std::string cp1252_to_utf8(std::string_view text);

}  // namespace kestrel
