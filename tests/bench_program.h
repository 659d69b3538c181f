// Running the kestrel-bench program from a test: its exit status and what it printed on
// standard output and standard error, each captured into the test's scratch folder.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench_scratch.h"

namespace kestrel::testing {

struct ProgramResult {
    int status = -1;  // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string read_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command line with its output captured.
inline ProgramResult run_shell(const std::string& command) {
    static int serial = 0;
    ++serial;
    const auto out = scratch("program-" + std::to_string(serial) + ".out");
    const auto err = scratch("program-" + std::to_string(serial) + ".err");
    const std::string line = command + " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(out), read_text(err)};
}

// Runs the bench with arguments as the shell splits them.
inline ProgramResult run_bench(const std::string& arguments) {
    return run_shell(std::string("'") + KESTREL_BENCH_PROGRAM + "' " + arguments);
}

}  // namespace kestrel::testing
