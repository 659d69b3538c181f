// The live panel's HTTP side: the page's three files, the API routes the page calls (each
// field checked, a bad one refused with a reason), and the Host check that keeps other web
// pages out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <httplib.h>

#include "live_panel.h"

namespace kestrel::serve {

inline constexpr std::size_t max_body_bytes = 4096;

// The page files, read once at start from the page folder. Throws naming a missing file.
struct PageFile {
    std::string path;  // as requested, e.g. "/page.js"
    std::string content;
    std::string type;
};
std::vector<PageFile> read_page(const std::filesystem::path& folder);

// Puts the page and the API on the server. Requests whose Host header is not one of
// `allowed_hosts` (filled in once the port is known) are refused before any route.
void add_routes(httplib::Server& server, LivePanel& panel, const std::vector<PageFile>& page,
                const std::vector<std::string>& allowed_hosts);

// The Host header values that reach the panel: this machine's loopback names and the
// listening address, each with the port.
std::vector<std::string> allowed_hosts_for(const std::string& listen, int port);

}  // namespace kestrel::serve
