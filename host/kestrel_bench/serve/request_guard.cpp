// The checks every request to the live panel passes before any route sees it, the token
// and its cookie, and the addresses that count as this machine's.
#include "request_guard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <string_view>

#include "panel_replies.h"

namespace kestrel::serve {
namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Compares in time that does not depend on where the texts differ.
bool same_secret(std::string_view given, std::string_view secret) {
    unsigned difference = given.size() == secret.size() ? 0u : 1u;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(secret[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
    return difference == 0;
}

// The value of one cookie in a Cookie header ("a=1; b=2"), or nullopt.
std::optional<std::string> cookie_value(const std::string& header, const std::string& name) {
    std::string_view rest = header;
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view pair = trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
    }
    return std::nullopt;
}

// One header's value; a header sent twice is refused, since the two could disagree.
std::optional<std::string> single_header(const httplib::Request& request, const char* name) {
    const std::size_t count = request.get_header_value_count(name);
    if (count == 0) return std::nullopt;
    if (count > 1) throw Refusal{400, std::string("refused: the request has ") + std::to_string(count) + " " + name + " headers"};
    return request.get_header_value(name);
}

std::string host_with_port(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::optional<Refusal> check(const httplib::Request& request, const AccessRules& rules) {
    const std::string host = lower(single_header(request, "Host").value_or(""));
    if (std::find(rules.hosts.begin(), rules.hosts.end(), host) == rules.hosts.end())
        return Refusal{403, "refused: Host '" + host.substr(0, 80) + "' is not this machine's panel address"};

    if (!rules.token.empty()) {
        std::optional<std::string> given;
        if (request.has_param("token")) given = request.get_param_value("token");
        else if (const auto cookies = single_header(request, "Cookie")) given = cookie_value(*cookies, rules.cookie);
        if (!given)
            return Refusal{403, "refused: this panel listens beyond this machine and answers only with its access "
                                "token; open the address with ?token= that kestrel-bench printed"};
        if (!same_secret(*given, rules.token))
            return Refusal{403, "refused: the access token is not this panel's; open the address with ?token= that "
                                "kestrel-bench printed"};
    }

    // Browsers say where a request comes from; a page of another site, or of another port
    // of this machine, is refused whatever it asks.
    if (const auto site = single_header(request, "Sec-Fetch-Site")) {
        if (*site == "cross-site" || *site == "same-site")
            return Refusal{403, "refused: a request from another site (Sec-Fetch-Site: " + *site +
                                    "); only the panel's own page may call it, and the panel opens from its address typed or pasted"};
        if (*site != "same-origin" && *site != "none")
            return Refusal{403, "refused: Sec-Fetch-Site '" + site->substr(0, 40) + "' is not one a browser sends"};
    }
    const std::string own = "http://" + host;
    if (const auto origin = single_header(request, "Origin"); origin && lower(*origin) != own)
        return Refusal{403, "refused: Origin '" + origin->substr(0, 80) + "'" +
                                (*origin == "null" ? " (a sandboxed page, a file or a redirect)" : "") +
                                " is not the panel's own origin " + own};

    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST")
        return Refusal{405, "refused: method " + request.method.substr(0, 20) + "; the panel takes GET and POST"};
    // A page of another site can POST text/plain or a form without asking first; a JSON
    // body needs the browser's preflight, which this server never grants.
    if (request.method == "POST") {
        const auto type = single_header(request, "Content-Type");
        const std::string media = type ? lower(std::string(trimmed(std::string_view(*type).substr(0, type->find(';'))))) : "";
        if (media != "application/json")
            return Refusal{415, "refused: a POST must carry Content-Type: application/json" +
                                    (type ? ", not '" + type->substr(0, 60) + "'" : std::string(", and this one has none"))};
    }
    return std::nullopt;
}

}  // namespace

bool is_loopback_address(const std::string& listen) {
    if (lower(listen) == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, listen.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, listen.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

std::string new_access_token() {
    std::random_device source;  // the kernel's random source
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
        token += part;
    }
    return token;
}

std::vector<std::string> allowed_hosts_for(const std::string& listen, int port) {
    std::vector<std::string> hosts = {host_with_port("127.0.0.1", port), host_with_port("localhost", port),
                                      host_with_port("::1", port), lower(host_with_port(listen, port))};
    if (listen == "0.0.0.0" || listen == "::") {
        // Listening everywhere: the machine is reached by any of its addresses or its name.
        ifaddrs* interfaces = nullptr;
        if (getifaddrs(&interfaces) == 0) {
            for (const ifaddrs* each = interfaces; each != nullptr; each = each->ifa_next) {
                if (each->ifa_addr == nullptr) continue;
                char text[INET6_ADDRSTRLEN] = {};
                const int family = each->ifa_addr->sa_family;
                if (family == AF_INET)
                    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(each->ifa_addr)->sin_addr, text, sizeof text);
                else if (family == AF_INET6)
                    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(each->ifa_addr)->sin6_addr, text, sizeof text);
                if (text[0] != '\0') hosts.push_back(lower(host_with_port(text, port)));
            }
            freeifaddrs(interfaces);
        }
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') hosts.push_back(lower(host_with_port(name, port)));
    }
    std::sort(hosts.begin(), hosts.end());
    hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
    return hosts;
}

std::optional<Refusal> refusal_for(const httplib::Request& request, const AccessRules& rules) {
    try {
        return check(request, rules);
    } catch (const Refusal& refusal) {
        return refusal;
    }
}

void add_request_guard(httplib::Server& server, const AccessRules& rules) {
    server.set_pre_routing_handler([&rules](const httplib::Request& request, httplib::Response& response) {
        // Nothing the panel sends may be framed by another page, sniffed into another type,
        // cached, or leak the token in a referrer.
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("X-Frame-Options", "DENY");
        response.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'; form-action 'none'");
        response.set_header("Referrer-Policy", "no-referrer");
        response.set_header("Cache-Control", "no-store");
        if (const std::optional<Refusal> refusal = refusal_for(request, rules)) {
            // The body of a refused request is never read: the connection cannot go on.
            response.set_header("Connection", "close");
            reply_refusal(request, response, *refusal);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!rules.token.empty() && request.has_param("token"))
            response.set_header("Set-Cookie", rules.cookie + "=" + rules.token + "; Path=/; HttpOnly; SameSite=Strict");
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

}  // namespace kestrel::serve
