// Who reaches the live panel. Every web page the user has open can send requests to a
// server on this machine, so each request must prove that it comes from the panel's own
// page: the right Host, no foreign Origin or Sec-Fetch-Site, JSON bodies only, and the
// access token where the panel listens beyond this machine.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <httplib.h>

#include "live_panel.h"

namespace kestrel::serve {

struct AccessRules {
    std::vector<std::string> hosts;  // Host header values that name this panel, port included
    std::string token;               // asked of every request when not empty
    std::string cookie;              // the cookie that keeps the token, named by the port
};

// Loopback addresses (127.0.0.0/8, ::1, "localhost") reach only this machine; any other
// listening address needs the token.
bool is_loopback_address(const std::string& listen);
// A fresh token: 128 random bits as 32 hexadecimal digits.
std::string new_access_token();
// The Host header values that reach the panel: this machine's loopback names and the
// listening address with the port; for a wildcard address (0.0.0.0, ::) also every address
// of this machine's interfaces and its host name.
std::vector<std::string> allowed_hosts_for(const std::string& listen, int port);

// Why the request may not reach any route (status 403, 405 or 415 and a reason), or
// nullopt when it may.
std::optional<Refusal> refusal_for(const httplib::Request& request, const AccessRules& rules);

// Checks every request before routing: a refused one is answered with its reason; one that
// brings the right token in its query gets the token's cookie, and the page itself a
// redirect to the address without it.
void add_request_guard(httplib::Server& server, const AccessRules& rules);

}  // namespace kestrel::serve
