// kestrel-host: the host's command line. Each subcommand is one routine in the table
// below; bad input ends with one line on stderr and exit status 2. `inspect` reads the
// module files as stored and never runs them; only `run` loads and drives a module.
#include <cstring>
#include <exception>
#include <iostream>
#include <string_view>

#include "module_listing.h"
#include "loader.h"
#include "scenario_runner.h"
#include "live_session.h"

namespace {

constexpr int exit_bad_input = 2;

int inspect_command(int argc, char** argv) {
    if (argc < 1) throw kestrel::HostError("inspect: name at least one module file");
    for (int i = 0; i < argc; ++i) {
        kestrel::inspect(kestrel::StoredModule::read(argv[i]), std::cout);
    }
    return 0;
}

struct Command {
    std::string_view name;
    std::string_view arguments;
    int (*run)(int argc, char** argv);  // argv after the subcommand's name
};

constexpr Command commands[] = {
    {"inspect", "MODULE...", inspect_command},
    {"run", "SCENARIO [--trace FILE] [--modules DIR] [--real-module] [--module FILE]", kestrel::run_command},
    {"session", "MODULE_FILE --gauge-info DIR", kestrel::session_command},
};

int usage(std::ostream& out) {
    out << "usage:";
    for (const Command& command : commands) out << " kestrel-host " << command.name << ' ' << command.arguments << " |";
    out << " kestrel-host --help\n";
    return exit_bad_input;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(std::cout);
        return 0;
    }
    if (argc < 2) return usage(std::cerr);
    for (const Command& command : commands) {
        if (command.name != argv[1]) continue;
        try {
            return command.run(argc - 2, argv + 2);
        } catch (const std::exception& error) {
            std::cout.flush();
            std::cerr << "kestrel-host: " << error.what() << '\n';
            return exit_bad_input;
        }
    }
    std::cerr << "kestrel-host: unknown command \"" << argv[1] << "\" (commands:";
    for (const Command& command : commands) std::cerr << ' ' << command.name;
    std::cerr << ")\n";
    return exit_bad_input;
}
