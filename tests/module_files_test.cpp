// Reads the shipped .gau files as bytes, the way a second, independent tool would: mingw's
// objdump reads the headers, exports, imports and section contents, and the records and
// pictures are checked at literal offsets, without the module headers or the host's reader,
// against the tables of click areas and pictures that the layout tests and the build read.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ap_click_rows.h"
#include "clock_click_rows.h"
#include "objdump_image.h"
#include "picture_tables.h"

namespace {

using kestrel::testing::ObjdumpImage;

std::filesystem::path module_file(const char* name) {
    return std::filesystem::path(KESTREL_WINDOWS_MODULE_DIR) / name;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct ExpectedModule {
    const char* file;
    uint32_t module_version;
    bool init_is_deinit;
    std::vector<std::string> gauges;  // the gauges built so far, in table order
};

const ExpectedModule timer_module{"KESTREL_TIMER.gau", 0x800, false, {"Digital_Clock"}};
const ExpectedModule panel_module{"KESTREL.GAU", 0x900, true, {"AP", "AUTOBRAKE"}};

const std::map<std::string, uint32_t> size_x_mm_by_gauge{{"Digital_Clock", 100}, {"AP", 804}, {"AUTOBRAKE", 73}};

bool in_code_section(const ObjdumpImage& image, uint32_t rva) {
    for (const auto& s : image.sections())
        if ((s.characteristics & 0x20) && rva >= s.virtual_address && rva < s.virtual_address + s.virtual_size) return true;
    return false;
}

class ModuleFile : public testing::TestWithParam<ExpectedModule> {
protected:
    ObjdumpImage image = ObjdumpImage::read(module_file(GetParam().file));
    uint32_t linkage = image.export_rva("Linkage").value_or(0);

    std::vector<uint32_t> gauge_headers() const {
        std::vector<uint32_t> headers;
        for (uint32_t slot = linkage + 24;; slot += 4) {
            const uint32_t header = image.pointer_at(slot);
            if (header == 0) break;
            headers.push_back(header);
            if (headers.size() > 64) ADD_FAILURE() << "gauge table does not end";
            if (headers.size() > 64) break;
        }
        return headers;
    }
};

TEST_P(ModuleFile, IsAStrippedReproducible32BitLibraryNamedAsShipped) {
    EXPECT_EQ(image.machine(), 0x14C);
    EXPECT_TRUE(image.is_dll());
    EXPECT_EQ(image.timestamp(), 0u) << "a time stamp would make two builds differ";
    EXPECT_EQ(image.symbol_count(), 0u) << "not stripped";
    for (const auto& section : image.sections()) EXPECT_NE(section.name.rfind(".debug", 0), 0u) << section.name;
    EXPECT_EQ(image.export_name(), GetParam().file);
}

TEST_P(ModuleFile, ExportsExactlyTheTwoRecordsAndImportsOnlySystemLibraries) {
    std::set<std::string> names;
    for (const auto& e : image.exports()) names.insert(e.name);
    EXPECT_EQ(names, (std::set<std::string>{"ImportTable", "Linkage"}));
    const std::set<std::string> allowed{"kernel32.dll", "user32.dll", "msvcrt.dll"};
    for (const auto& dll : image.imported_dlls()) EXPECT_TRUE(allowed.count(lower(dll))) << dll;
}

TEST_P(ModuleFile, ImportTableAsksForThePanelServicesAndIsEmptyAsStored) {
    const uint32_t table = image.export_rva("ImportTable").value();
    EXPECT_EQ(image.u32_at(table), 0x0Fu);
    EXPECT_EQ(image.u32_at(table + 4), 0u);
    EXPECT_EQ(image.u32_at(table + 8), 0u);
    EXPECT_EQ(image.u32_at(table + 12), 0u);
}

TEST_P(ModuleFile, LinkageNamesItsGaugesInOrder) {
    ASSERT_NE(linkage, 0u);
    EXPECT_EQ(image.u32_at(linkage), 0x13u);
    const uint32_t init = image.pointer_at(linkage + 4);
    const uint32_t deinit = image.pointer_at(linkage + 8);
    EXPECT_TRUE(in_code_section(image, init));
    EXPECT_TRUE(in_code_section(image, deinit));
    EXPECT_EQ(init == deinit, GetParam().init_is_deinit);
    EXPECT_EQ(image.u32_at(linkage + 12), 0u);
    EXPECT_EQ(image.u32_at(linkage + 16), 0u);
    EXPECT_EQ(image.u32_at(linkage + 20), GetParam().module_version);
    std::vector<std::string> names;
    for (uint32_t header : gauge_headers()) names.push_back(image.string_at(image.pointer_at(header + 4)));
    EXPECT_EQ(names, GetParam().gauges);
}

TEST_P(ModuleFile, EveryGaugeHeaderHoldsItsStoredValues) {
    const std::vector<uint32_t> headers = gauge_headers();
    ASSERT_EQ(headers.size(), GetParam().gauges.size()) << "every gauge's header is checked";
    for (uint32_t header : headers) {
        const std::string name = image.string_at(image.pointer_at(header + 4));
        SCOPED_TRACE(name);
        EXPECT_EQ(image.u32_at(header), 0x320u);
        // element_list addresses the variable that follows the 96-byte background record.
        const uint32_t element_list = image.pointer_at(header + 8);
        const uint32_t root = image.pointer_at(element_list);
        EXPECT_EQ(root + 96, element_list);
        EXPECT_EQ(image.u32_at(root), 0u) << "the root is a static image";
        EXPECT_EQ(image.pointer_at(root + 32), header) << "root's gauge_header";
        std::set<uint32_t> routines;
        for (uint32_t offset = 12; offset <= 36; offset += 4) {
            const uint32_t routine = image.pointer_at(header + offset);
            EXPECT_TRUE(in_code_section(image, routine)) << "routine at " << offset;
            routines.insert(routine);
        }
        EXPECT_EQ(routines.size(), 7u) << "seven distinct standard routines";
        EXPECT_EQ(image.u32_at(header + 40), 0u);
        ASSERT_TRUE(size_x_mm_by_gauge.count(name));
        EXPECT_EQ(image.u32_at(header + 44), size_x_mm_by_gauge.at(name));
        for (uint32_t offset = 48; offset < 80; offset += 4) EXPECT_EQ(image.u32_at(header + offset), 0u) << offset;
        EXPECT_NE(image.pointer_at(header + 80), 0u) << "click-area list";
        const uint32_t callback = image.pointer_at(header + 84);
        if (name == "Digital_Clock")
            EXPECT_EQ(callback, 0u);
        else
            EXPECT_TRUE(in_code_section(image, callback));
        for (uint32_t offset = 88; offset < 200; offset += 4) EXPECT_EQ(image.u32_at(header + offset), 0u) << offset;
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ModuleFile, testing::Values(timer_module, panel_module),
                         [](const auto& info) { return std::string(info.param.file == timer_module.file ? "KESTREL_TIMER" : "KESTREL"); });

// A gauge's click list, record by record, as the file stores it: every word against its
// row, tooltip texts byte for byte, and a handler in the code for every child, each its own.
void expect_click_list(const ObjdumpImage& image, uint32_t header, std::span<const kestrel::testing::ClickRow> rows) {
    const uint32_t list = image.pointer_at(header + 80);
    ASSERT_NE(list, 0u);
    std::set<uint32_t> handlers;
    std::size_t children = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const uint32_t r = list + 44 * static_cast<uint32_t>(i);
        const auto& row = rows[i];
        EXPECT_EQ(image.u32_at(r), row.kind);
        EXPECT_EQ(image.i32_at(r + 4), row.x);
        EXPECT_EQ(image.i32_at(r + 8), row.y);
        EXPECT_EQ(image.i32_at(r + 12), row.width);
        EXPECT_EQ(image.i32_at(r + 16), row.height);
        EXPECT_EQ(image.i32_at(r + 20), row.cursor);
        EXPECT_EQ(image.u32_at(r + 24), row.help_id);
        EXPECT_EQ(image.u32_at(r + 28), row.mouse_flags);
        EXPECT_EQ(image.u32_at(r + 32), 0u);
        const uint32_t target = image.pointer_at(r + 36);
        if (row.tooltip != nullptr) {
            ASSERT_NE(target, 0u) << "tooltip text";
            EXPECT_EQ(image.string_at(target), row.tooltip);
        } else {
            EXPECT_EQ(target != 0, row.handler);
        }
        if (row.handler) {
            EXPECT_TRUE(in_code_section(image, target));
            handlers.insert(target);
            ++children;
        }
        EXPECT_EQ(image.u32_at(r + 40), 0u);
    }
    EXPECT_EQ(handlers.size(), children) << "every child its own handler";
}

// The header of the gauge at a position of a module's gauge table.
uint32_t gauge_header(const ObjdumpImage& image, uint32_t position) {
    return image.pointer_at(image.export_rva("Linkage").value() + 24 + 4 * position);
}

TEST(ClockFile, ClickAreaListMatchesItsTable) {
    const ObjdumpImage image = ObjdumpImage::read(module_file("KESTREL_TIMER.gau"));
    ASSERT_EQ(std::size(kestrel::testing::clock_click_rows), 7u);
    expect_click_list(image, gauge_header(image, 0), kestrel::testing::clock_click_rows);
}

TEST(PanelFile, ApClickAreaListMatchesItsTable) {
    const ObjdumpImage image = ObjdumpImage::read(module_file("KESTREL.GAU"));
    const uint32_t header = gauge_header(image, 0);
    ASSERT_EQ(image.string_at(image.pointer_at(header + 4)), "AP");
    ASSERT_EQ(kestrel::testing::ap_click_rows.size(), 109u);
    expect_click_list(image, header, kestrel::testing::ap_click_rows);
}

// The bitmap resources of a module: exactly the ids of its picture table, each of its
// row's size, uncompressed 8 bits with a 256-colour palette and pure black in its top
// left corner.
void expect_pictures(const ObjdumpImage& image, std::span<const kestrel::testing::PictureRow> rows) {
    std::vector<uint32_t> ids;
    for (const auto& row : rows) ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(image.bitmap_ids(), ids);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const auto picture = image.picture(row.id);
        EXPECT_EQ(picture.width, row.width);
        EXPECT_EQ(picture.height, row.height);
        EXPECT_EQ(picture.bits_per_pixel, 8);
        EXPECT_EQ(picture.compression, 0u);
        EXPECT_EQ(picture.palette_size, 256);
        EXPECT_EQ(picture.at(0, 0), 0u) << "pure black around the drawing";
    }
}

// The clock's pictures: resources of the sizes its elements need, 8 bits with a palette.
TEST(ClockFile, CarriesItsEightPictures) {
    const ObjdumpImage image = ObjdumpImage::read(module_file("KESTREL_TIMER.gau"));
    ASSERT_EQ(std::size(kestrel::testing::clock_pictures), 8u);
    expect_pictures(image, kestrel::testing::clock_pictures);
}

// The KESTREL module's pictures: the AP strip's 101 to 109 and the AUTOBRAKE gauge's 110
// to 113, of the sizes their elements need, 8 bits with a palette, the lights in their colours.
TEST(PanelFile, CarriesItsThirteenPictures) {
    const ObjdumpImage image = ObjdumpImage::read(module_file("KESTREL.GAU"));
    ASSERT_EQ(std::size(kestrel::testing::panel_pictures), 13u);
    expect_pictures(image, kestrel::testing::panel_pictures);
    if (testing::Test::HasFatalFailure()) return;
    // The first pixel of each light's bar, in the light's colour.
    namespace picture = kestrel::testing::panel_picture;
    EXPECT_EQ(image.picture(picture::red_light.id).at(4, 13), 0xFE0000u);
    EXPECT_EQ(image.picture(picture::green_light.id).at(4, 13), 0x00FF00u);
    EXPECT_EQ(image.picture(picture::white_light.id).at(4, 13), 0xFAFAFAu);
}

// The panel's read-outs round halves as a user's machine does only through MSVCRT.dll's
// own sprintf: mingw-w64's formatter, which its headers link in by default, rounds to even.
TEST(PanelFile, FormatsWithMsvcrtsSprintfAndImportsOnlySystemLibraries) {
    const ObjdumpImage image = ObjdumpImage::read(module_file("KESTREL.GAU"));
    const auto imports = image.imported_functions();
    ASSERT_EQ(imports.size(), image.imported_dlls().size()) << "every imported DLL was read";
    ASSERT_TRUE(imports.count("msvcrt.dll")) << "no import from msvcrt.dll";
    const auto& msvcrt = imports.at("msvcrt.dll");
    EXPECT_TRUE(std::find(msvcrt.begin(), msvcrt.end(), "sprintf") != msvcrt.end())
        << "sprintf is not imported by name from msvcrt.dll, only " << testing::PrintToString(msvcrt);
    for (const auto& [dll, functions] : imports) {
        EXPECT_TRUE(dll == "kernel32.dll" || dll == "user32.dll" || dll == "msvcrt.dll") << dll;
        EXPECT_FALSE(functions.empty()) << dll;
    }
}

}  // namespace
