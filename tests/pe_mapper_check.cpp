// The native host's mapper of real Windows modules: a second copy of a module mapped while
// the first is loaded is relocated and keeps state of its own, and a library that needs a
// routine the mapper does not serve is refused with that routine's name.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver.h"
#include "loader.h"
#include "services.h"

namespace {

using kestrel::GaugeDriver;
using kestrel::HostError;
using kestrel::LoadedModule;
using kestrel::PanelHost;

const std::filesystem::path windows_modules = KESTREL_WINDOWS_MODULE_DIR;
const std::filesystem::path timer_module = windows_modules / "KESTREL_TIMER.gau";

std::string upper_text(GaugeDriver& driver) {
    for (const auto& sample : driver.update().samples)
        if (sample.label == "0.1") return sample.text.value_or("(no text)");
    return "(no upper read-out)";
}

TEST(WindowsModuleMapper, SecondCopyIsRelocatedAndKeepsItsOwnState) {
    LoadedModule first = LoadedModule::open(timer_module);
    LoadedModule second = LoadedModule::open(timer_module);
    // Both copies cannot sit at the preferred base: the second one was relocated, and every
    // pointer in its records must point into its own image.
    ASSERT_NE(&first.linkage(), &second.linkage());
    const auto* second_base = reinterpret_cast<const unsigned char*>(&second.linkage());
    const auto* header = reinterpret_cast<const unsigned char*>(second.gauges().at(0));
    EXPECT_LT(std::abs(header - second_base), 0x100000) << "gauge header outside the relocated image";
    EXPECT_STREQ(second.gauges().at(0)->gauge_name, "Digital_Clock");

    PanelHost host;
    host.attach(first);
    host.attach(second);
    host.set_var(3, 9);
    host.set_var(4, 5);
    GaugeDriver first_clock(first, host, "Digital_Clock");
    GaugeDriver second_clock(second, host, "Digital_Clock");
    EXPECT_EQ(upper_text(second_clock), " 9:05");

    // The mode lever of the second copy changes its page only.
    second_clock.click(6, 88, 0x20000000);
    EXPECT_EQ(upper_text(second_clock), "     ");
    EXPECT_EQ(upper_text(first_clock), " 9:05");
}

TEST(WindowsModuleMapper, RefusesALibraryThatNeedsAnUnservedRoutine) {
    const auto library = std::filesystem::path(KESTREL_WINDOWS_TEST_LIBRARY_DIR) / "unserved_import.dll";
    try {
        LoadedModule::open(library);
        FAIL() << "a library that imports GetTickCount was mapped";
    } catch (const HostError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("unserved_import.dll"), std::string::npos) << message;
        EXPECT_NE(message.find("kernel32.dll!GetTickCount"), std::string::npos) << message;
    }
}

}  // namespace
