// The one options type of kestrel-bench: what the command line of every command (demo,
// run, render, serve, snapshot) sets, with each default stated once here, for the code and for the
// help text alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::bench {

enum class Command { demo, run, render, serve, snapshot };

// Defaults that differ by command: a demo is looked at, so it draws at twice the size (the
// live panel's page picks the largest scale that fits its window); the live panel waits
// less for a module that hangs.
inline constexpr int default_scale(Command command) { return command == Command::demo ? 2 : 1; }
inline constexpr double default_timeout_seconds(Command command) { return command == Command::serve ? 10 : 30; }
inline constexpr double max_serve_timeout_seconds = 3600;
inline constexpr int default_port = 8018;
inline constexpr const char* default_listen_address = "127.0.0.1";
inline constexpr const char* default_out = "out";

struct Options {
    Command command = Command::run;
    std::optional<std::filesystem::path> root;  // a Kestrel source tree to take everything from
    bool native = false;                        // the native twin in the native host
    bool native_gau = false;                    // the real .gau in the native host, without trying wine
    std::filesystem::path out = default_out;
    std::optional<int> scale;
    std::optional<double> timeout_seconds;
    std::optional<uint64_t> update;      // render: draw this update instead of the pictures
    std::optional<std::string> panel;    // render: one panel of this name
    std::optional<std::filesystem::path> host;
    std::optional<std::filesystem::path> modules;
    std::optional<std::filesystem::path> gau_dir;
    std::optional<std::filesystem::path> junit;  // run, demo: the JUnit report to write
    bool update_pictures = false;                // run, demo: write the references met instead of judging them
    std::string listen = default_listen_address;
    int port = default_port;
    std::vector<std::string> inputs;  // scenarios or directories, traces, or the one module
    // snapshot: the panel file, the window by number or title, host variables as
    // TOKEN=VALUE, click areas outlined, the folder of the .gau files the panel names.
    std::optional<std::filesystem::path> panel_file;
    std::optional<std::string> window;
    std::vector<std::string> variables;
    bool areas = false;
    std::optional<std::filesystem::path> gauges;

    int scale_or_default() const { return scale.value_or(default_scale(command)); }
    double timeout_or_default() const { return timeout_seconds.value_or(default_timeout_seconds(command)); }
};

// Bad input on the command line or in a file the user named: the bench ends with exit
// status 2 and the message, which names the file (and line) and what was expected.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kestrel::bench
