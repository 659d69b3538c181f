// The installed bench: the three builds installed into a fresh prefix, then the installed
// program run from another folder with the source tree made invisible (a private mount
// namespace lays an empty folder over it), so that it can only have found its host,
// modules, page and demo scenarios below the prefix.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "bench_program.h"

namespace {

namespace fs = std::filesystem;
using kestrel::testing::ProgramResult;
using kestrel::testing::read_text;
using kestrel::testing::run_shell;
using kestrel::testing::scratch;

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

class InstalledBench : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix = scratch("prefix");
        for (const char* build : {KESTREL_TOOLS_BUILD_DIR, KESTREL_NATIVE_RELEASE_BUILD_DIR, KESTREL_WINDOWS_BUILD_DIR}) {
            const ProgramResult install =
                run_shell(std::string("'") + KESTREL_CMAKE + "' --install '" + build + "' --prefix " + quoted(prefix));
            ASSERT_EQ(install.status, 0) << build << ":\n" << install.out << install.err;
        }
        // Whether this machine lets the test hide the source tree from the installed bench.
        hidden = run_shell("unshare -r -m sh -c 'mount --bind " + scratch("").string() + " " KESTREL_SOURCE_DIR
                           " && test ! -e " KESTREL_SOURCE_DIR "/CMakeLists.txt'")
                     .status == 0;
    }

    // A shell script run from a folder outside the source tree, with the source tree hidden
    // where the machine allows it; $BENCH is the installed bench.
    static ProgramResult elsewhere(const std::string& script) {
        static int serial = 0;
        const fs::path folder = scratch("elsewhere");
        fs::create_directories(folder);
        fs::create_directories(scratch("empty"));
        const fs::path file = scratch("installed-" + std::to_string(++serial) + ".sh");
        std::ofstream(file) << (hidden ? "mount --bind " + quoted(scratch("empty")) + " '" KESTREL_SOURCE_DIR "' || exit 99\n" : "")
                            << "BENCH=" << quoted(prefix / "bin" / "kestrel-bench") << "\ncd " << quoted(folder) << " || exit 99\n"
                            << script << "\n";
        return run_shell((hidden ? "unshare -r -m sh " : "sh ") + quoted(file));
    }

    static ProgramResult installed_bench(const std::string& arguments) { return elsewhere("\"$BENCH\" " + arguments); }

    static void expect_under_prefix(const std::string& output) {
        EXPECT_EQ(output.find(KESTREL_SOURCE_DIR), std::string::npos) << "the installed bench used the source tree:\n" << output;
    }

    static inline fs::path prefix;
    static inline bool hidden = false;
};

TEST_F(InstalledBench, EverythingItRunsIsInstalledBelowThePrefix) {
    for (const char* file : {"bin/kestrel-bench", "lib/kestrel/host/kestrel-host", "lib/kestrel/modules/KESTREL_TIMER.so",
                             "lib/kestrel/modules/KESTREL.so", "lib/kestrel/gau/KESTREL_TIMER.gau", "lib/kestrel/gau/KESTREL.GAU",
                             "lib/kestrel/windows/kestrel-host.exe", "lib/kestrel/tools/wine-run.sh",
                             "lib/kestrel/tools/wine-works.sh", "share/kestrel/page/index.html", "share/kestrel/page/page.js",
                             "share/kestrel/page/page.css", "share/kestrel/scenarios/clock_date.scenario",
                             "share/kestrel/scenarios/pictures/clock_date-2004-02-29.png"})
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
}

TEST_F(InstalledBench, RunsAScenarioOnTheRealGauWithoutTheSourceTree) {
    std::cout << (hidden ? "the source tree is hidden from the installed bench\n"
                         : "this machine cannot hide the source tree; the paths the bench prints are checked\n");
    const fs::path out = scratch("run-out");
    const ProgramResult result =
        installed_bench("run --native-gau --out " + quoted(out) + " " + quoted(prefix / "share/kestrel/scenarios/clock_date.scenario"));
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("host: the native host " + (prefix / "lib/kestrel/host/kestrel-host").string() +
                              " on the real .gau files\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\n1 passed, 0 failed\n"), std::string::npos) << result.out;
    expect_under_prefix(result.out + result.err);
    const std::string trace = read_text(out / "traces" / "clock_date.jsonl");
    EXPECT_NE(trace.find("\"module_file\":\"" + (prefix / "lib/kestrel/gau/KESTREL_TIMER.gau").string() + "\""),
              std::string::npos)
        << trace.substr(0, 300);
    EXPECT_TRUE(fs::exists(out / "frames" / "clock_date"));
}

TEST_F(InstalledBench, TheDemoAndTheTwinRunInstalled) {
    const ProgramResult demo = installed_bench("demo --native-gau --out " + quoted(scratch("demo-out")));
    EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
    EXPECT_TRUE(std::regex_search(demo.out, std::regex("\n[1-9][0-9]* passed, 0 failed\n"))) << demo.out;
    expect_under_prefix(demo.out + demo.err);

    const ProgramResult twin = installed_bench("run --native --out " + quoted(scratch("twin-out")) + " " +
                                               quoted(prefix / "share/kestrel/scenarios/clock_minute.scenario"));
    EXPECT_EQ(twin.status, 0) << twin.out << twin.err;
    EXPECT_NE(twin.out.find(" on the native twin\n"), std::string::npos) << twin.out;
    expect_under_prefix(twin.out + twin.err);
}

TEST_F(InstalledBench, ServeLooksModulesUpBelowThePrefix) {
    const ProgramResult missing = installed_bench("serve --native-gau --port 0 KESTREL_TIMR");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find((prefix / "lib/kestrel/gau").string() + ": no module KESTREL_TIMR.gau (it has KESTREL.GAU, "
                                                                        "KESTREL_TIMER.gau)"),
              std::string::npos)
        << missing.err;

    // The page is read before the host starts: a panel that prints its address found it.
    const fs::path log = scratch("serve.log");
    elsewhere("\"$BENCH\" serve --native-gau --port 0 --out " + quoted(scratch("serve-out")) + " KESTREL_TIMER >" + quoted(log) +
              " 2>&1 &\nserver=$!\nfor i in $(seq 300); do grep -q 'is at http' " + quoted(log) +
              " && break; sleep 0.2; done\nkill $server\nwait $server");
    const std::string said = read_text(log);
    EXPECT_NE(said.find("kestrel-bench: the live panel of KESTREL_TIMER.gau is at http://127.0.0.1:"), std::string::npos) << said;
    expect_under_prefix(said);
}

}  // namespace
