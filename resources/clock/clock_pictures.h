// The KESTREL_TIMER module's pictures, one row each: name, the bitmap resource id that the
// elements name, the file that the generator draws, and its width and height in pixels.
// The resource script, the generator, the module's records, the build and the tests all read it.
#pragma once

// KESTREL_CLOCK_PICTURES(ROW) expands ROW(name, id, file, width, height) once per picture.
// The resource compiler reads this file too: preprocessor lines only.
#define KESTREL_CLOCK_PICTURES(ROW)                                \
    ROW(face, 8192, "face.bmp", 104, 103)                          \
    ROW(lit_face, 8193, "lit_face.bmp", 94, 94)                    \
    ROW(unlit_hand, 8448, "unlit_hand.bmp", 10, 45)                \
    ROW(lit_hand, 8449, "lit_hand.bmp", 10, 45)                    \
    ROW(page_lever_down, 8704, "page_lever_down.bmp", 16, 16)      \
    ROW(page_lever_up, 8705, "page_lever_up.bmp", 16, 16)          \
    ROW(mode_lever_down, 8720, "mode_lever_down.bmp", 16, 16)      \
    ROW(mode_lever_up, 8721, "mode_lever_up.bmp", 16, 16)
