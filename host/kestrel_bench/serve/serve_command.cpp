// Starting the live panel: the module looked up (or the panel file read), the host chosen
// as `run` chooses it, the page read, the port bound for this panel alone, and the server
// run until a signal stops it in order.
#include "serve_command.h"

#include <netdb.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <thread>

#include "host_launcher.h"
#include "live_panel.h"
#include "module_lookup.h"
#include "panel_reader.h"
#include "panel_routes.h"
#include "request_guard.h"

namespace kestrel::serve {
namespace {

// Why binding listen:port fails, found by trying it once more on a socket of our own: the
// library says only that it failed. 0 when it would succeed now.
int bind_error(const std::string& listen, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(listen.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
        return EADDRNOTAVAIL;
    int error = 0;
    const int probe = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (probe < 0) {
        error = errno;
    } else {
        const int yes = 1;
        setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(probe, found->ai_addr, found->ai_addrlen) != 0) error = errno;
        ::close(probe);
    }
    freeaddrinfo(found);
    return error;
}

// Binds the port for this panel alone: the library's default SO_REUSEPORT would let a
// second panel listen on it too and take half of the requests. SO_REUSEADDR only lets a
// panel that was just stopped be started again on its port.
int bind_exclusively(httplib::Server& server, const std::string& listen, int port) {
    const auto last_socket = std::make_shared<int>(-1);  // the one bound is the last one tried
    server.set_socket_options([last_socket](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        *last_socket = socket;
    });
    const int bound = port == 0 ? server.bind_to_any_port(listen) : (server.bind_to_port(listen, port) ? port : -1);
    if (bound > 0) {
        // The library listens with a backlog of 5: beyond it the kernel drops a client's
        // connection, which the client tries again only a second later (48 clients took 1
        // to 4 s to connect). Listening again sets the longer backlog on the same socket.
        if (::listen(*last_socket, SOMAXCONN) != 0)
            throw bench::UsageError("cannot listen on " + listen + ":" + std::to_string(bound) + ": " + std::strerror(errno));
        return bound;
    }
    const int error = bind_error(listen, port);
    if (error == EADDRINUSE)
        throw bench::UsageError("port " + std::to_string(port) + " is in use (another panel?); choose one with --port, or --port 0");
    throw bench::UsageError("cannot listen on " + listen + (port == 0 ? "" : ":" + std::to_string(port)) + ": " +
                            (error != 0 ? std::strerror(error) : "the address cannot be used"));
}

// Slow or stalled clients hold a worker each until their read times out: a client that
// sends half a request holds one for about two read time-outs. Measured with 48 such
// clients and a good request beside them: the library's 8 workers and 5 s answered it
// after 59 s, 8 and 2 s after 24 s, 16 and 2 s after 12 s, 64 workers at once (1 ms).
void limit_clients(httplib::Server& server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(server_workers); };
    server.set_read_timeout(read_timeout_seconds, 0);
    server.set_write_timeout(read_timeout_seconds, 0);
    server.set_keep_alive_timeout(read_timeout_seconds);
}

std::string address_shown(const std::string& listen, int port) {
    const bool v6 = listen.find(':') != std::string::npos;
    const std::string host = v6 ? (listen == "::" ? "[::1]" : "[" + listen + "]") : listen == "0.0.0.0" ? "127.0.0.1" : listen;
    return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace

int serve_command(const bench::Options& options, const bench::Locations& locations) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that dies mid-write must not end the bench
    if (options.timeout_or_default() > bench::max_serve_timeout_seconds)
        throw bench::UsageError("--timeout: at most " + std::to_string(static_cast<int>(bench::max_serve_timeout_seconds)) +
                                " seconds for serve");
    if (options.inputs.empty() == !options.panel_file.has_value())
        throw bench::UsageError("serve: name a module, or a panel file with --panel FILE (not both)");
    // Bad input stops here, before any host starts: a module that is not there, or a
    // panel file that does not read.
    std::optional<ServedModule> module;
    std::optional<panel::PanelFile> panel;
    if (options.panel_file) panel = panel::read_panel_file(*options.panel_file);
    else
        module = served_module(options.inputs.at(0), options, locations,
                               options.native ? bench::HostKind::twin : bench::HostKind::native_gau);
    const std::vector<PageFile> page = read_page(locations.page());
    const bench::Host host = bench::choose_host(options, locations, std::cout);
    std::cout << "host: " << host.description() << '\n';
    if (panel && panel->windows.empty())
        throw bench::UsageError(display_path(panel->file) + ": no [WindowNN] section to serve");

    // The port first: a panel that cannot have it stops before it starts a host.
    httplib::Server server;
    limit_clients(server);
    const int port = bind_exclusively(server, options.listen, options.port);
    AccessRules rules;
    rules.hosts = allowed_hosts_for(options.listen, port);
    if (!is_loopback_address(options.listen)) rules.token = new_access_token();
    rules.cookie = "kestrel-panel-" + std::to_string(port);
    add_request_guard(server, rules);

    const std::filesystem::path work = live_work_folder(options.out);
    std::unique_ptr<LiveTarget> target;
    std::string served;
    if (panel) {
        served = panel->file.filename().string();
        std::cout << "kestrel-bench: starting a host for each module of " << display_path(panel->file) << " ..." << std::endl;
        panel::PanelSessionSettings settings = panel::session_settings(options, locations, host);
        settings.work = work;
        settings.timeout_seconds = options.timeout_or_default();
        target = panel_target(std::move(*panel), std::move(settings));
    } else {
        served = module->loaded.filename().string();
        std::cout << "kestrel-bench: starting the host for " << display_path(module->loaded) << " ..." << std::endl;
        target = module_target(*module, host, work, options.timeout_or_default());
    }
    LivePanel live({options.out, options.scale, options.timeout_or_default()}, std::move(target), host);
    add_routes(server, live, page);

    // Ctrl+C or a TERM signal stops the server in order, so that the host is stopped with
    // it; the signals are taken by one thread, blocked in every other (the host's child
    // process gets them back).
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::thread signal_waiter([&server, stop_signals] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        server.stop();
    });
    signal_waiter.detach();
    live.start_ticker();
    const std::string token = rules.token.empty() ? "" : "?token=" + rules.token;
    std::cout << "kestrel-bench: the live panel of " << served << " is at "
              << address_shown(options.listen, port) << token << std::endl;
    if (!rules.token.empty())
        std::cout << "kestrel-bench: it listens on " << options.listen
                  << ", beyond this machine, and answers only requests with this token (a cookie keeps it)" << std::endl;
    server.listen_after_bind();
    std::cout << "kestrel-bench: the live panel stopped" << std::endl;
    return 0;
}

}  // namespace kestrel::serve
