// Starting the live panel: the module looked up, the host chosen as `run` chooses it, the
// page read, the port bound, and the server run until a signal stops it in order.
#include "serve_command.h"

#include <pthread.h>

#include <csignal>
#include <iostream>
#include <thread>

#include "host_launcher.h"
#include "live_panel.h"
#include "module_lookup.h"
#include "panel_routes.h"

namespace kestrel::serve {

int serve_command(const bench::Options& options, const bench::Locations& locations) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that dies mid-write must not end the bench
    if (options.timeout_or_default() > bench::max_serve_timeout_seconds)
        throw bench::UsageError("--timeout: at most " + std::to_string(static_cast<int>(bench::max_serve_timeout_seconds)) +
                                " seconds for serve");
    const ServedModule module = served_module(options.inputs.at(0), options, locations,
                                              options.native ? bench::HostKind::twin : bench::HostKind::native_gau);
    const std::vector<PageFile> page = read_page(locations.page());
    const bench::Host host = bench::choose_host(options, locations, std::cout);
    std::cout << "host: " << host.description() << '\n';
    std::cout << "kestrel-bench: starting the host for " << display_path(module.loaded) << " ..." << std::endl;
    LivePanel panel({options.out, options.scale_or_default(), options.timeout_or_default()}, module, host);

    httplib::Server server;
    std::vector<std::string> allowed_hosts;  // filled once the port is known
    add_routes(server, panel, page, allowed_hosts);
    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.listen);
        if (port < 0) port = 0;
    } else if (!server.bind_to_port(options.listen, port)) {
        port = 0;
    }
    if (port == 0) throw bench::UsageError("cannot listen on " + options.listen + ":" + std::to_string(options.port));
    allowed_hosts = allowed_hosts_for(options.listen, port);

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
    panel.start_ticker();
    const bool v6 = options.listen.find(':') != std::string::npos;
    std::cout << "kestrel-bench: the live panel of " << module.loaded.filename().string() << " is at http://"
              << (v6 ? "[" + options.listen + "]" : options.listen == "0.0.0.0" ? std::string("127.0.0.1") : options.listen)
              << ":" << port << "/" << std::endl;
    server.listen_after_bind();
    std::cout << "kestrel-bench: the live panel stopped" << std::endl;
    return 0;
}

}  // namespace kestrel::serve
