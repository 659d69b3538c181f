// Loading both modules as the simulator does: Linkage and ImportTable as read at their
// byte offsets, the gauge tables up to NULL, and the refusal of files that are not modules.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "host_test_support.h"
#include "temporary_directory.h"

namespace {

using kestrel::HostError;
using kestrel::LoadedModule;
using kestrel::testing::panel_module_path;
using kestrel::testing::timer_module_path;

uint32_t word_at(const void* record, std::size_t offset) {
    uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
}

// The message of the HostError that loading path throws ("" if none is thrown).
std::string load_error(const std::filesystem::path& path) {
    try {
        LoadedModule::open(path);
    } catch (const HostError& error) {
        return error.what();
    }
    return "";
}

// Runs check on a driver for every gauge of the module at path, attached to a live host.
template <typename Check>
void for_each_gauge(const std::filesystem::path& path, Check check) {
    LoadedModule module = LoadedModule::open(path);
    kestrel::PanelHost host;
    host.attach(module);
    ASSERT_FALSE(module.gauges().empty()) << path << " lists no gauge to check";
    for (GaugeHeader* header : module.gauges()) {
        SCOPED_TRACE(kestrel::gauge_name_of(*header));
        kestrel::GaugeDriver gauge(*header, host);
        check(gauge, host);
    }
}

struct ModuleExpectation {
    std::filesystem::path path;
    uint32_t module_version;
    bool init_is_deinit;
    std::size_t gauge_count;
};

class BothModules : public ::testing::TestWithParam<ModuleExpectation> {};

TEST_P(BothModules, LinkageWordsSitAtTheirOffsets) {
    const ModuleExpectation& expected = GetParam();
    const LoadedModule module = LoadedModule::open(expected.path);
    const void* linkage = &module.linkage();
    EXPECT_EQ(word_at(linkage, 0), 0x13u);
    EXPECT_EQ(word_at(linkage, 12), 0u) << "module_flags";
    EXPECT_EQ(word_at(linkage, 16), 0u) << "module_priority";
    EXPECT_EQ(word_at(linkage, 20), expected.module_version);
    EXPECT_NE(module.linkage().module_init, nullptr);
    EXPECT_NE(module.linkage().module_deinit, nullptr);
    EXPECT_EQ(module.linkage().module_init == module.linkage().module_deinit, expected.init_is_deinit);

    // The gauge table is inline from byte 24 and ends with NULL right after the last gauge.
    ASSERT_EQ(module.gauges().size(), expected.gauge_count);
    const auto* table = reinterpret_cast<GaugeHeader* const*>(static_cast<const unsigned char*>(linkage) + 24);
    for (std::size_t i = 0; i < module.gauges().size(); ++i) EXPECT_EQ(table[i], module.gauges()[i]);
    EXPECT_EQ(table[module.gauges().size()], nullptr);
}

TEST_P(BothModules, ImportTableAsStoredAndAsAttached) {
    LoadedModule module = LoadedModule::open(GetParam().path);
    const ImportTableRecord& imports = module.import_table();
    EXPECT_EQ(word_at(&imports, 0), 0x0Fu);
    EXPECT_EQ(word_at(&imports, 4), 0u) << "panel_services is stored NULL";
    EXPECT_EQ(word_at(&imports, 8), 0u);
    EXPECT_EQ(word_at(&imports, 12), 0u);

    kestrel::PanelHost host;
    host.attach(module);
    EXPECT_EQ(imports.panel_services, &host.services());
    EXPECT_TRUE(module.module_init_run());
}

TEST_P(BothModules, EveryGaugeHeaderAndTreeHangTogether) {
    LoadedModule module = LoadedModule::open(GetParam().path);
    ASSERT_EQ(module.gauges().size(), GetParam().gauge_count);
    for (GaugeHeader* header : module.gauges()) {
        SCOPED_TRACE(kestrel::gauge_name_of(*header));
        EXPECT_EQ(word_at(header, 0), 0x320u) << "header_version";
        ASSERT_NE(header->element_list, nullptr);
        ElementHeader* root = *header->element_list;
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->element_kind, static_image_element);
        // The variable holding the root follows the root record directly.
        EXPECT_EQ(reinterpret_cast<unsigned char*>(header->element_list),
                  reinterpret_cast<unsigned char*>(root) + sizeof(StaticImageElement));
        for (const kestrel::ElementEntry& entry : kestrel::read_element_tree(root))
            EXPECT_EQ(entry.element->gauge_header, header) << "element " << entry.label;
        EXPECT_EQ(&module.gauge(kestrel::gauge_name_of(*header)), header);
        // The image the host checks records against holds the header and every record.
        const auto* at = reinterpret_cast<const unsigned char*>(header);
        EXPECT_TRUE(at >= module.image_begin() && at + sizeof(GaugeHeader) <= module.image_end());
        const kestrel::RecordBounds bounds{module.image_begin(), module.image_end()};
        EXPECT_NO_THROW(kestrel::read_element_tree(root, bounds));
        EXPECT_NO_THROW(kestrel::read_mouse_list(header->mouse_rect_list, bounds));
    }
}

TEST_P(BothModules, ReadoutRecordsAsTheHostReadsTheirBytes) {
    for_each_gauge(GetParam().path, [](kestrel::GaugeDriver& gauge, kestrel::PanelHost&) {
        for (const kestrel::ElementEntry& entry : gauge.elements()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(entry.element);
            if (entry.element->element_kind != string_element) continue;
            SCOPED_TRACE("read-out " + entry.label);
            // The face name is stored inline at byte 248 (32 bytes, NUL-padded), not as a pointer.
            const char* font = reinterpret_cast<const char*>(bytes + 248);
            EXPECT_EQ(std::string(font, 7), std::string("Quartz\0", 7));
            EXPECT_EQ(word_at(bytes, 280), 400u) << "font_weight";
            EXPECT_EQ(word_at(bytes, 288), 0x25u) << "text_format";
            // The host's buffer pointer sits at 184 and holds char_count (at 292) + 1 bytes.
            const uint32_t char_count = word_at(bytes, 292);
            EXPECT_GE(char_count, 1u);
            char* text;
            std::memcpy(&text, bytes + 184, sizeof text);
            EXPECT_NE(text, nullptr);
        }
    });
}

TEST_P(BothModules, RepeatedUpdatesKeepEveryReadoutInItsBuffer) {
    for_each_gauge(GetParam().path, [](kestrel::GaugeDriver& gauge, kestrel::PanelHost& host) {
        // Values at the edges of what a host variable may hold.
        for (const double value : {0.0, -1.0, 1e12, -1e12, 86399.0, 4294967296.0}) {
            for (uint32_t token = 1; token < 1024; ++token) host.set_var(token, value);
            for (int i = 0; i < 20; ++i) {
                const kestrel::UpdateResult result = gauge.update();
                for (const kestrel::ElementSample& sample : result.samples) {
                    if (sample.text) {
                        EXPECT_LE(sample.text->size(), word_at(&gauge.element(sample.index), 292));
                    }
                }
            }
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Modules, BothModules,
                         ::testing::Values(ModuleExpectation{timer_module_path(), 0x800, false, 1},
                                           ModuleExpectation{panel_module_path(), 0x900, true, 2}),
                         [](const auto& info) { return info.param.module_version == 0x800 ? "KESTREL_TIMER" : "KESTREL"; });

// The clock's elements embed no variable (its callbacks read module-level ones); the
// KESTREL module's gauges embed them, and the host refreshes each before the callbacks.
TEST(TimerModule, ClockElementsEmbedNoVariable) {
    std::size_t elements = 0;
    for_each_gauge(timer_module_path(), [&](kestrel::GaugeDriver& gauge, kestrel::PanelHost&) {
        for (const kestrel::ElementEntry& entry : gauge.elements()) {
            if (entry.element->element_kind == static_image_element) continue;
            ++elements;
            const int vars = entry.element->element_kind == string_element ? 3 : 1;
            for (int i = 0; i < vars; ++i) EXPECT_EQ(word_at(entry.element, 60 + 28 * i), 0u) << entry.label;
        }
    });
    EXPECT_EQ(elements, 7u);
}

TEST(PanelModule, EmbeddedVariablesAreRefreshedAtByte72AndOn) {
    std::vector<std::string> gauges_seen;
    for_each_gauge(panel_module_path(), [&](kestrel::GaugeDriver& gauge, kestrel::PanelHost& host) {
        gauges_seen.push_back(kestrel::gauge_name_of(gauge.header()));
        // Every token a variable names gets a value of its own.
        std::vector<std::pair<const unsigned char*, std::size_t>> refreshed;
        for (const kestrel::ElementEntry& entry : gauge.elements()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(entry.element);
            const int vars = entry.element->element_kind == string_element ? 3 : 1;
            if (entry.element->element_kind == static_image_element) continue;
            for (int i = 0; i < vars; ++i) {
                const uint32_t token = word_at(bytes, 60 + 28 * i);
                if (token == 0) continue;
                host.set_var(token, token * 1.5 + 0.25);
                refreshed.push_back({bytes, 60 + 28 * std::size_t(i)});
            }
        }
        ASSERT_FALSE(refreshed.empty()) << "no element of the gauge embeds a variable";
        gauge.update();
        std::size_t second_variables = 0;
        for (const auto& [bytes, offset] : refreshed) {
            double value;
            std::memcpy(&value, bytes + offset + 12, sizeof value);
            EXPECT_EQ(value, word_at(bytes, offset) * 1.5 + 0.25) << "variable at byte " << offset;
            second_variables += offset == 88 ? 1 : 0;
        }
        // AP's speed read-out carries a second variable, whose value sits at byte 100.
        if (kestrel::gauge_name_of(gauge.header()) == "AP") {
            EXPECT_EQ(second_variables, 1u);
        }
    });
    EXPECT_EQ(gauges_seen, (std::vector<std::string>{"AP", "AUTOBRAKE"}));
}

TEST(TimerModule, RegistersTheDigitalClockAloneWithoutGaugeCallback) {
    const LoadedModule module = LoadedModule::open(timer_module_path());
    ASSERT_EQ(module.gauge_names(), std::vector<std::string>{"Digital_Clock"});
    EXPECT_EQ(module.gauge("Digital_Clock").gauge_callback, nullptr);
}

TEST(PanelModule, GaugeTableNamesOnlyItsOwnGauges) {
    // The panel's gauges join its table as they are built; whatever is there has a name
    // from the panel's list, each once.
    const LoadedModule module = LoadedModule::open(panel_module_path());
    std::vector<std::string> names = module.gauge_names();
    EXPECT_LE(names.size(), 2u);
    for (const std::string& name : names) EXPECT_TRUE(name == "AP" || name == "AUTOBRAKE") << name;
    if (names.size() == 2) {
        EXPECT_EQ(names, (std::vector<std::string>{"AP", "AUTOBRAKE"}));
    }
}

TEST(GaugeLookup, UnknownNameListsTheGaugesThatExist) {
    const LoadedModule module = LoadedModule::open(timer_module_path());
    try {
        module.gauge("Altimeter");
        FAIL() << "no error for an unknown gauge";
    } catch (const HostError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"Altimeter\""), std::string::npos) << message;
        EXPECT_NE(message.find("\"Digital_Clock\""), std::string::npos) << message;
    }
}

// Paths are named with forward slashes on every platform, as the user wrote them.
TEST(LoadErrors, EachNamesTheFileAndWhatIsWrong) {
    const std::filesystem::path missing = timer_module_path().parent_path() / "no_such_module.gau";
    EXPECT_EQ(load_error(missing), missing.generic_string() + ": no such file");

    const kestrel::testing::TemporaryDirectory directory;
    const std::filesystem::path text = directory / "not_a_module.gau";
    std::ofstream(text) << "this is a text file, not a module\n";
    ASSERT_TRUE(std::filesystem::is_regular_file(text));
    const std::string text_error = load_error(text);
    EXPECT_EQ(text_error.rfind(text.generic_string() + ": not a ", 0), 0u) << text_error;

    const std::filesystem::path empty = directory / "empty.gau";
    std::ofstream{empty};
    ASSERT_TRUE(std::filesystem::is_regular_file(empty));
    const std::string empty_error = load_error(empty);
    EXPECT_EQ(empty_error.rfind(empty.generic_string() + ": not a ", 0), 0u) << empty_error;

    EXPECT_EQ(load_error(KESTREL_NO_LINKAGE_FILE), std::string(KESTREL_NO_LINKAGE_FILE) + ": exports no Linkage record");
    EXPECT_EQ(load_error(KESTREL_NO_IMPORT_TABLE_FILE),
              std::string(KESTREL_NO_IMPORT_TABLE_FILE) + ": exports no ImportTable record");
    EXPECT_EQ(load_error(timer_module_path().parent_path()).rfind(timer_module_path().parent_path().string() + ": ", 0), 0u);
}

TEST(LoadedModuleLifetime, MovedModuleStaysUsableAndUnloadsOnce) {
    LoadedModule first = LoadedModule::open(timer_module_path());
    const auto gauges = first.gauges();
    LoadedModule second = std::move(first);
    EXPECT_EQ(second.gauges(), gauges);
    EXPECT_EQ(second.module_id(), 0x13u);
    second = LoadedModule::open(panel_module_path());
    EXPECT_EQ(second.module_version(), 0x900u);
}

}  // namespace
