// The live panel's HTTP side: the page's three files and the API routes the page calls,
// each field checked and a bad one refused with a reason. Who may call them at all is the
// request guard's business.
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

// Puts the page and the API on the server.
void add_routes(httplib::Server& server, LivePanel& panel, const std::vector<PageFile>& page);

}  // namespace kestrel::serve
