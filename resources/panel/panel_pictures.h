// The KESTREL module's pictures, one row each: name, the bitmap resource id that the
// elements name, the file that the generator draws, and its width and height in pixels:
// the AP strip's (101 to 109), then the AUTOBRAKE gauge's (110 to 113). Every reader reads it.
#pragma once

// KESTREL_PANEL_PICTURES(ROW) expands ROW(name, id, file, width, height) once per picture.
// The resource compiler reads this file too: preprocessor lines only.
#define KESTREL_PANEL_PICTURES(ROW)                                         \
    ROW(ap_background, 101, "ap_background.bmp", 804, 107)                  \
    ROW(red_light, 102, "red_light.bmp", 21, 21)                            \
    ROW(green_light, 103, "green_light.bmp", 21, 21)                        \
    ROW(white_light, 104, "white_light.bmp", 21, 21)                        \
    ROW(select_label, 105, "select_label.bmp", 28, 14)                      \
    ROW(disconnect_bar_0, 106, "disconnect_bar_0.bmp", 64, 14)              \
    ROW(disconnect_bar_1, 107, "disconnect_bar_1.bmp", 64, 14)              \
    ROW(toggle_lever_0, 108, "toggle_lever_0.bmp", 24, 24)                  \
    ROW(toggle_lever_1, 109, "toggle_lever_1.bmp", 24, 24)                  \
    ROW(autobrake_background, 110, "autobrake_background.bmp", 73, 144)     \
    ROW(autobrake_needle, 111, "autobrake_needle.bmp", 20, 7)               \
    ROW(autobrake_knob, 112, "autobrake_knob.bmp", 29, 31)                  \
    ROW(autobrake_light, 113, "autobrake_light.bmp", 24, 12)
