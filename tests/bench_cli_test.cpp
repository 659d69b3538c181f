// The bench's command line against the README: every command answers --help, the options
// each command's help lists are the ones the README's options table gives it (both ways),
// each help states the default that command uses, and bad usage exits 2 saying why.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "bench_program.h"

namespace {

using kestrel::testing::read_text;
using kestrel::testing::run_bench;

const std::vector<std::string> commands = {"demo", "run", "render", "serve", "snapshot"};

// The README's options table: option -> the commands it lists.
std::map<std::string, std::set<std::string>> readme_options() {
    std::map<std::string, std::set<std::string>> table;
    std::istringstream readme(read_text(KESTREL_README));
    const std::regex row(R"(^\| `(--[a-z-]+)[^`]*` \| ([a-z, ]+) \|)");
    for (std::string line; std::getline(readme, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, row)) continue;
        std::istringstream names(match[2].str());
        for (std::string name; std::getline(names, name, ',');) {
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            table[match[1].str()].insert(name);
        }
    }
    return table;
}

// The options a --help text lists, without --help itself.
std::set<std::string> help_options(const std::string& help) {
    std::set<std::string> options;
    std::istringstream lines(help);
    const std::regex option(R"(^  (?:-h,)?(--[a-z-]+))");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, option) && match[1] != "--help") options.insert(match[1]);
    }
    return options;
}

// The help line of one option.
std::string help_line(const std::string& help, const std::string& name) {
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("  " + name + " ", 0) == 0) return line;
    return "";
}

TEST(BenchCommandLine, EveryCommandAnswersHelp) {
    const auto top = run_bench("--help");
    EXPECT_EQ(top.status, 0) << top.err;
    for (const std::string& command : commands) {
        EXPECT_NE(top.out.find("\n  " + command + " "), std::string::npos) << command << " missing from:\n" << top.out;
        const auto help = run_bench(command + " --help");
        EXPECT_EQ(help.status, 0) << command << ": " << help.err;
        EXPECT_NE(help.out.find("Usage: "), std::string::npos) << help.out;
        EXPECT_NE(help.out.find(" " + command + " [OPTIONS]"), std::string::npos) << help.out;
    }
    const auto bare = run_bench("");
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("demo, run, render, serve or snapshot"), std::string::npos) << bare.err;
}

TEST(BenchCommandLine, TheReadmeListsEachCommandsOptionsAsItsHelpDoes) {
    const auto table = readme_options();
    ASSERT_GE(table.size(), 10u) << "the README's options table was not found in " << KESTREL_README;
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const std::set<std::string> in_help = help_options(run_bench(command + " --help").out);
        ASSERT_FALSE(in_help.empty());
        std::set<std::string> in_readme;
        for (const auto& [option, listed] : table)
            if (listed.count(command)) in_readme.insert(option);
        EXPECT_EQ(in_help, in_readme) << "help lists " << ::testing::PrintToString(in_help) << ", the README "
                                      << ::testing::PrintToString(in_readme);
    }
    for (const auto& [option, listed] : table)
        for (const std::string& command : listed)
            EXPECT_TRUE(std::find(commands.begin(), commands.end(), command) != commands.end())
                << option << " names an unknown command " << command;
}

TEST(BenchCommandLine, EachHelpStatesTheDefaultThatCommandUses) {
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"demo", {"(default 2)", "(default 30 s)"}},
        {"run", {"(default 1)", "(default 30 s)"}},
        {"render", {"(default 1)", ""}},
        {"serve", {"(default the largest at which the gauges fit the window)", "(default 10 s)"}},
        {"snapshot", {"(default 1)", "(default 30 s)"}},
    };
    for (const auto& [command, defaults] : expected) {
        SCOPED_TRACE(command);
        const std::string help = run_bench(command + " --help").out;
        EXPECT_NE(help_line(help, "--scale").find(defaults.first), std::string::npos) << help;
        if (!defaults.second.empty()) EXPECT_NE(help_line(help, "--timeout").find(defaults.second), std::string::npos) << help;
        EXPECT_NE(help_line(help, "--out").find("(default out)"), std::string::npos) << help;
    }
    const std::string serve = run_bench("serve --help").out;
    EXPECT_NE(help_line(serve, "--port").find("(default 8018;"), std::string::npos) << serve;
    EXPECT_NE(help_line(serve, "--listen").find("(default 127.0.0.1)"), std::string::npos) << serve;
}

TEST(BenchCommandLine, BadUsageExits2AndSaysWhatWasExpected) {
    const std::pair<std::string, std::string> cases[] = {
        {"frobnicate", "not expected: frobnicate"},
        {"run", "SCENARIO is required"},
        {"run --scale 3 x.scenario", "--scale: expected 1, 2 or 4, found '3'"},
        {"run --timeout -1 x.scenario", "--timeout: expected a positive number of seconds, found '-1'"},
        {"run --update 3 x.scenario", "not expected: --update"},
        {"run --native --native-gau x.scenario", "give one of them"},
        {"render --update 0 t.jsonl", "--update: expected an update number from 1, found '0'"},
        {"render --panel a/b t.jsonl", "--panel: expected a name of letters"},
        {"serve --port 70000 KESTREL", "--port: expected a port number from 0 to 65535, found '70000'"},
        {"serve KESTREL KESTREL_TIMER", "MODULE"},
        {"demo x.scenario", "not expected: x.scenario"},
        {"snapshot --out o", "--panel is required"},
        {"snapshot --panel p.cfg --update 0", "--update: expected a number of updates from 1, found '0'"},
        {"snapshot --panel p.cfg --scale 3", "--scale: expected 1, 2 or 4, found '3'"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments);
        const auto result = run_bench(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err.rfind("kestrel-bench: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
    }
}

}  // namespace
