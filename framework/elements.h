// Element records: the tree of pictures, needles, read-outs and icons that the host
// draws, the ModuleVar through which host variables are read, failure lists and image flags.
#pragma once

#include "abi.h"
#include "panel_services.h"

struct GaugeHeader;

enum ElementKind : uint32_t {
    static_image_element = 0,
    needle_element = 1,
    string_element = 2,
    icon_element = 4,
};

// image_flags bits; only image_hidden has a meaning that module code relies on.
inline constexpr uint32_t image_flag_1 = 0x00000001;
inline constexpr uint32_t image_flag_2 = 0x00000002;
inline constexpr uint32_t image_flag_4 = 0x00000004;
inline constexpr uint32_t image_flag_80 = 0x00000080;
inline constexpr uint32_t image_hidden = 0x40000000;  // the host does not draw the element
inline constexpr uint32_t image_flag_80000000 = 0x80000000;

inline constexpr uint32_t no_resource = 0xFFFFFFFF;  // text read-outs have no picture

// Failure lists: every list of both modules names the same host failure number, with the
// host's action for a needle or for a read-out or light. The numbers are the host's.
inline constexpr uint32_t gauge_failure_key = 20;
inline constexpr uint32_t needle_failure_action = 1;
inline constexpr uint32_t readout_failure_action = 3;  // read-outs, and in KESTREL the lights

// How a read-out asks the host to draw its text: the Windows values for a normal weight,
// the default character set, and DrawText centring on a single line (0x1 | 0x4 | 0x20).
inline constexpr uint32_t font_weight_normal = 400;
inline constexpr uint32_t font_charset_default = 1;
inline constexpr uint32_t draw_text_centred_single_line = 0x25;
inline constexpr uint32_t colour_black = 0x00000000;  // Windows colour 0x00BBGGRR
// The host's font of every read-out. A literal, since only a literal initialises the
// record's inline name.
#define KESTREL_READOUT_FONT "Quartz"

#pragma pack(push, 4)

// The records as a module stores them. A module names the words it stores; every word
// the host owns, and every word the format fixes, is zero by its initializer here.

// A host variable as the module reads it. The host fills value (at byte 12: the record
// is packed to 4) by token; module code sets nothing here.
struct ModuleVar {
    uint32_t token;               // module: host variable number, 0 = none
    void* var_ptr = nullptr;      // host-owned
    uint32_t var_type = 0;        // host-owned
    double value = 0.0;           // host-owned: current value, refreshed by the host
    double previous_value = 0.0;  // host-owned
};

struct FailureEntry {
    uint32_t failure_key;     // module: host failure number; 0 ends the list
    uint32_t failure_action;  // module: host action number
    uint32_t reserved = 0;    // 0
};

struct NonlinearityEntry {
    PixelPoint point;         // module: background pixel the needle points at for this value
    double value;             // module: variable value of this point (ascending along the table)
    double host_owned = 0.0;  // host-owned, 0
};

struct ElementHeader;
using ElementCallback = double(KESTREL_STDCALL*)(ElementHeader* element);

struct ElementHeader {
    uint32_t element_kind;                      // module: ElementKind
    uint32_t resource_id;                       // module: bitmap id, or no_resource
    PixelPoint position;                        // module: pixels; top-left, or a needle's centre of rotation
    PixelPoint previous_position = {0, 0};      // host-owned
    PixelPoint anchor;                          // module: pixels of the element's own picture; pivot of a needle
    GaugeHeader* gauge_header;                  // module: owning gauge
    ElementHeader* previous_element = nullptr;  // host-owned
    ElementHeader* const* next_elements;        // module: NULL-terminated children, or NULL
    const FailureEntry* failure_list;           // module: list ended by an all-zero entry, or NULL
    uint32_t image_flags;                       // module and host: flag bits; image_hidden switched at run time
    uint32_t special_flags;                     // module: host-owned meaning
    uint32_t reserved = 0;                      // 0
};

struct StaticImageElement {
    ElementHeader header;            // kind 0; position (0,0)
    uint32_t host_owned_60[9] = {};  // host-owned
};

struct NeedleElement {
    ElementHeader header;                         // kind 1; anchor = pivot in the needle picture
    ModuleVar source_var;                         // module token, refreshed by the host before the callback
    uint32_t host_owned_88[6] = {};               // host-owned
    const NonlinearityEntry* nonlinearity_table;  // module: NULL, or calibration points
    uint32_t nonlinearity_count;                  // module: entries in that table
    uint32_t needle_rate;                         // module: host-owned meaning
    uint32_t host_owned_124[25] = {};             // host-owned
    ElementCallback value_callback;               // module: returns degrees, or a table value
    uint32_t host_owned_228[2] = {};              // host-owned
};

struct StringElement {
    ElementHeader header;              // kind 2; resource_id no_resource; position = top-left of the text box
    ModuleVar source_vars[3];          // module tokens, refreshed by the host before the callback
    uint32_t host_owned_144[10] = {};  // host-owned
    char* text = nullptr;              // host-owned buffer of char_count + 1 bytes; the callback writes it
    uint32_t host_owned_188 = 0;       // host-owned
    PixelSize size;                    // module: the text box, pixels
    uint32_t host_owned_200[2] = {};   // host-owned
    uint32_t fore_colour;              // module: Windows colour 0x00BBGGRR
    uint32_t back_colour;              // module: Windows colour 0x00BBGGRR
    uint32_t highlight_colour;         // module: Windows colour 0x00BBGGRR
    uint32_t host_owned_220[7] = {};   // host-owned
    char font_name[32];                // module: face name, NUL-padded, stored inline
    uint32_t font_weight;              // module: Windows font weight (400 normal)
    uint32_t font_charset;             // module: Windows character set (1 default)
    uint32_t text_format;              // module: Windows DrawText flags (0x25 centred, single line)
    uint32_t char_count;               // module: characters shown; the buffer holds one more
    uint32_t host_owned_296[4] = {};   // host-owned
    ElementCallback value_callback;    // module: writes text, returns the value shown
    uint32_t host_owned_316[2] = {};   // host-owned
};

struct IconElement {
    ElementHeader header;             // kind 4; pictures resource_id .. resource_id + icon_count - 1
    ModuleVar source_var;             // module token, refreshed by the host before the callback
    uint32_t host_owned_88 = 0;       // host-owned
    uint32_t icon_switch;             // module: host-owned meaning (3 clock, 0 panel)
    uint32_t host_owned_96[4] = {};   // host-owned
    uint32_t icon_count;              // module: number of pictures, 1 or 2
    uint32_t host_owned_116[4] = {};  // host-owned
    ElementCallback value_callback;   // module: picture selector
    uint32_t host_owned_136 = 0;      // host-owned
};

// A gauge's root: the background, followed directly by the variable that
// GaugeHeader.element_list addresses.
struct GaugeRoot {
    StaticImageElement background;  // module: the root element
    ElementHeader* root;            // module: &background.header
};

#pragma pack(pop)

KESTREL_OFFSET(ModuleVar, token, 0);
KESTREL_OFFSET(ModuleVar, var_ptr, 4);
KESTREL_OFFSET(ModuleVar, var_type, 8);
KESTREL_OFFSET(ModuleVar, value, 12);
KESTREL_OFFSET(ModuleVar, previous_value, 20);
KESTREL_SIZE(ModuleVar, 28);

KESTREL_OFFSET(FailureEntry, failure_key, 0);
KESTREL_OFFSET(FailureEntry, failure_action, 4);
KESTREL_OFFSET(FailureEntry, reserved, 8);
KESTREL_SIZE(FailureEntry, 12);

KESTREL_OFFSET(NonlinearityEntry, point, 0);
KESTREL_OFFSET(NonlinearityEntry, value, 8);
KESTREL_OFFSET(NonlinearityEntry, host_owned, 16);
KESTREL_SIZE(NonlinearityEntry, 24);

KESTREL_OFFSET(ElementHeader, element_kind, 0);
KESTREL_OFFSET(ElementHeader, resource_id, 4);
KESTREL_OFFSET(ElementHeader, position, 8);
KESTREL_OFFSET(ElementHeader, previous_position, 16);
KESTREL_OFFSET(ElementHeader, anchor, 24);
KESTREL_OFFSET(ElementHeader, gauge_header, 32);
KESTREL_OFFSET(ElementHeader, previous_element, 36);
KESTREL_OFFSET(ElementHeader, next_elements, 40);
KESTREL_OFFSET(ElementHeader, failure_list, 44);
KESTREL_OFFSET(ElementHeader, image_flags, 48);
KESTREL_OFFSET(ElementHeader, special_flags, 52);
KESTREL_OFFSET(ElementHeader, reserved, 56);
KESTREL_SIZE(ElementHeader, 60);

KESTREL_OFFSET(StaticImageElement, header, 0);
KESTREL_OFFSET(StaticImageElement, host_owned_60, 60);
KESTREL_SIZE(StaticImageElement, 96);

KESTREL_OFFSET(NeedleElement, header, 0);
KESTREL_OFFSET(NeedleElement, source_var, 60);
KESTREL_OFFSET(NeedleElement, source_var.value, 72);
KESTREL_OFFSET(NeedleElement, host_owned_88, 88);
KESTREL_OFFSET(NeedleElement, nonlinearity_table, 112);
KESTREL_OFFSET(NeedleElement, nonlinearity_count, 116);
KESTREL_OFFSET(NeedleElement, needle_rate, 120);
KESTREL_OFFSET(NeedleElement, host_owned_124, 124);
KESTREL_OFFSET(NeedleElement, value_callback, 224);
KESTREL_OFFSET(NeedleElement, host_owned_228, 228);
KESTREL_SIZE(NeedleElement, 236);

KESTREL_OFFSET(StringElement, header, 0);
KESTREL_OFFSET(StringElement, source_vars, 60);
KESTREL_OFFSET(StringElement, source_vars[0].value, 72);
KESTREL_OFFSET(StringElement, source_vars[1].value, 100);
KESTREL_OFFSET(StringElement, source_vars[2].value, 128);
KESTREL_OFFSET(StringElement, host_owned_144, 144);
KESTREL_OFFSET(StringElement, text, 184);
KESTREL_OFFSET(StringElement, host_owned_188, 188);
KESTREL_OFFSET(StringElement, size, 192);
KESTREL_OFFSET(StringElement, host_owned_200, 200);
KESTREL_OFFSET(StringElement, fore_colour, 208);
KESTREL_OFFSET(StringElement, back_colour, 212);
KESTREL_OFFSET(StringElement, highlight_colour, 216);
KESTREL_OFFSET(StringElement, host_owned_220, 220);
KESTREL_OFFSET(StringElement, font_name, 248);
KESTREL_OFFSET(StringElement, font_weight, 280);
KESTREL_OFFSET(StringElement, font_charset, 284);
KESTREL_OFFSET(StringElement, text_format, 288);
KESTREL_OFFSET(StringElement, char_count, 292);
KESTREL_OFFSET(StringElement, host_owned_296, 296);
KESTREL_OFFSET(StringElement, value_callback, 312);
KESTREL_OFFSET(StringElement, host_owned_316, 316);
KESTREL_SIZE(StringElement, 324);

KESTREL_OFFSET(IconElement, header, 0);
KESTREL_OFFSET(IconElement, source_var, 60);
KESTREL_OFFSET(IconElement, source_var.value, 72);
KESTREL_OFFSET(IconElement, host_owned_88, 88);
KESTREL_OFFSET(IconElement, icon_switch, 92);
KESTREL_OFFSET(IconElement, host_owned_96, 96);
KESTREL_OFFSET(IconElement, icon_count, 112);
KESTREL_OFFSET(IconElement, host_owned_116, 116);
KESTREL_OFFSET(IconElement, value_callback, 132);
KESTREL_OFFSET(IconElement, host_owned_136, 136);
KESTREL_SIZE(IconElement, 140);

KESTREL_OFFSET(GaugeRoot, background, 0);
KESTREL_OFFSET(GaugeRoot, root, 96);
KESTREL_SIZE(GaugeRoot, 100);

#ifndef KESTREL_HOST
namespace panel {

// Has the host refresh a stand-alone ModuleVar and returns the value it wrote.
inline double lookup_var(ModuleVar& variable) {
    services().lookup_var(&variable);
    return variable.value;
}

}  // namespace panel

// The element reached by following the first child link step_count times; NULL if the
// start is NULL or a step meets an element without children.
ElementHeader* walk_elements(ElementHeader* element, uint32_t step_count);
// Walks as above and ORs bits into the element reached; returns it, or NULL (no change).
ElementHeader* set_image_flags(ElementHeader* element, uint32_t step_count, uint32_t bits);
// Walks as above and clears bits of the element reached; returns it, or NULL (no change).
ElementHeader* clear_image_flags(ElementHeader* element, uint32_t step_count, uint32_t bits);

// Switches image_hidden alone, leaving every other bit as it is.
inline void set_hidden(ElementHeader& element, bool hidden) {
    if (hidden)
        element.image_flags |= image_hidden;
    else
        element.image_flags &= ~image_hidden;
}
#endif
