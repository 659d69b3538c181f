// The routes of the live panel and the parsing of their fields. Every failure is a
// refusal with a status and a reason in JSON, which the page shows.
#include "panel_routes.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace kestrel::serve {
namespace {

using nlohmann::json;

// JSON for the page; text that is not UTF-8 (a message quoting module bytes) is replaced
// rather than failing the request.
std::string json_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json request_body(const httplib::Request& request) {
    if (request.body.empty()) return json::object();
    try {
        json body = json::parse(request.body);
        if (!body.is_object()) throw Refusal{400, "the body must be a JSON object"};
        return body;
    } catch (const json::exception&) {
        throw Refusal{400, "the body is not JSON"};
    }
}

int64_t integer_field(const json& body, const char* name, int64_t low, int64_t high) {
    if (!body.contains(name)) throw Refusal{400, std::string("missing field '") + name + "'"};
    const json& value = body.at(name);
    if (!value.is_number_integer()) throw Refusal{400, std::string("field '") + name + "' must be a whole number"};
    const int64_t number = value.get<int64_t>();
    if (number < low || number > high)
        throw Refusal{400, std::string("field '") + name + "' must be from " + std::to_string(low) + " to " + std::to_string(high)};
    return number;
}

std::size_t gauge_field(const json& body) { return static_cast<std::size_t>(integer_field(body, "gauge", 0, 255)); }

// A whole number in decimal or 0x hexadecimal, as scenarios write tokens.
uint32_t word_text(const json& body, const char* name, uint32_t low) {
    if (!body.contains(name) || !body.at(name).is_string()) throw Refusal{400, std::string("field '") + name + "' must be a string"};
    std::string text = body.at(name).get<std::string>();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.erase(0, 2);
    }
    uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < low || number > 0xFFFFFFFFull)
        throw Refusal{400, std::string("field '") + name + "' must be a whole number from " + std::to_string(low) +
                               " to 0xFFFFFFFF"};
    return static_cast<uint32_t>(number);
}

double real_text(const json& body, const char* name) {
    if (!body.contains(name) || !body.at(name).is_string()) throw Refusal{400, std::string("field '") + name + "' must be a string"};
    std::string text = body.at(name).get<std::string>();
    if (!text.empty() && text[0] == '+') text.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw Refusal{400, "'" + body.at(name).get<std::string>().substr(0, 40) +
                               "' is not a number (write digits, nan, inf or -inf)"};
    return value;
}

bool boolean_field(const json& body, const char* name) {
    if (!body.contains(name)) return false;
    if (!body.at(name).is_boolean()) throw Refusal{400, std::string("field '") + name + "' must be true or false"};
    return body.at(name).get<bool>();
}

// A whole number from the query string.
template <typename Number>
Number query_number(const httplib::Request& request, const char* name, Number fallback, bool required) {
    if (!request.has_param(name)) {
        if (required) throw Refusal{400, std::string(name) + " must be a whole number"};
        return fallback;
    }
    const std::string text = request.get_param_value(name);
    Number number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw Refusal{400, std::string(name) + " must be a whole number"};
    return number;
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": the page file cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<PageFile> read_page(const std::filesystem::path& folder) {
    std::vector<PageFile> page;
    for (const auto& [name, type] : {std::pair{"index.html", "text/html; charset=utf-8"},
                                     std::pair{"page.js", "text/javascript; charset=utf-8"},
                                     std::pair{"page.css", "text/css; charset=utf-8"}})
        page.push_back({std::string("/") + name, read_file(folder / name), type});
    return page;
}

std::vector<std::string> allowed_hosts_for(const std::string& listen, int port) {
    const std::string suffix = std::string(":").append(std::to_string(port));
    const std::string address = listen.find(':') != std::string::npos ? std::string("[").append(listen).append("]") : listen;
    return {"127.0.0.1" + suffix, "localhost" + suffix, "[::1]" + suffix, address + suffix};
}

void add_routes(httplib::Server& server, LivePanel& panel, const std::vector<PageFile>& page,
                const std::vector<std::string>& allowed_hosts) {
    server.set_payload_max_length(max_body_bytes);
    server.set_pre_routing_handler([&allowed_hosts](const httplib::Request& request, httplib::Response& response) {
        // Against DNS rebinding: only the names of this machine's loopback and the
        // listening address itself reach the panel.
        const std::string host = request.get_header_value("Host");
        for (const std::string& allowed : allowed_hosts)
            if (host == allowed) return httplib::Server::HandlerResponse::Unhandled;
        response.status = 403;
        response.set_content("refused: Host '" + host.substr(0, 80) + "' is not this machine's panel address\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });

    // Refusals that the library makes itself (an unknown path, a body too long or without
    // its length) carry a reason too.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        std::string reason = "HTTP " + std::to_string(response.status);
        if (response.status == 413) reason = "the body is longer than " + std::to_string(max_body_bytes) + " bytes";
        else if (response.status == 404) reason = "no such page or call";
        else if (response.status == 400 || response.status == 411) reason = "malformed request (a POST needs a body with its length)";
        response.set_content(json_text(json{{"error", reason}}), "application/json");
    });
    auto guarded = [](auto handler) {
        return [handler](const httplib::Request& request, httplib::Response& response) {
            try {
                handler(request, response);
            } catch (const Refusal& refusal) {
                response.status = refusal.status;
                response.set_content(json_text(json{{"error", refusal.reason}}), "application/json");
            } catch (const std::exception& error) {
                response.status = 500;
                response.set_content(json_text(json{{"error", error.what()}}), "application/json");
            }
        };
    };
    auto reply = [](httplib::Response& response, const json& body) { response.set_content(json_text(body), "application/json"); };
    const json ok = {{"ok", true}};

    for (const PageFile& file : page) {
        auto serve_file = [content = file.content, type = file.type](const httplib::Request&, httplib::Response& response) {
            response.set_content(content, type);
        };
        server.Get(file.path, serve_file);
        if (file.path == "/index.html") server.Get("/", serve_file);
    }
    server.Get("/api/info", guarded([&panel, reply](const httplib::Request&, httplib::Response& response) { reply(response, panel.info()); }));
    server.Get("/api/state", guarded([&panel, reply](const httplib::Request& request, httplib::Response& response) {
        reply(response, panel.state(query_number<uint64_t>(request, "log_since", 0, false)));
    }));
    server.Get("/api/frame", guarded([&panel](const httplib::Request& request, httplib::Response& response) {
        const std::vector<uint8_t> png = panel.frame_png(query_number<std::size_t>(request, "gauge", 0, true));
        response.set_header("Cache-Control", "no-store");
        response.set_content(std::string(png.begin(), png.end()), "image/png");
    }));
    // The page's commands: each answers {"ok": true}, or a refusal.
    auto post = [&](const char* path, auto act) {
        server.Post(path, guarded([&panel, act, reply, ok](const httplib::Request& request, httplib::Response& response) {
            act(panel, request_body(request));
            reply(response, ok);
        }));
    };
    post("/api/play", [](LivePanel& live, const json&) { live.set_playing(true); });
    post("/api/pause", [](LivePanel& live, const json&) { live.set_playing(false); });
    post("/api/step", [](LivePanel& live, const json&) { live.step(); });
    post("/api/restart", [](LivePanel& live, const json&) { live.restart(); });
    post("/api/click", [](LivePanel& live, const json& body) {
        live.click(gauge_field(body), static_cast<int>(integer_field(body, "x", -100000, 100000)),
                   static_cast<int>(integer_field(body, "y", -100000, 100000)), boolean_field(body, "modifier"));
    });
    post("/api/service", [](LivePanel& live, const json& body) {
        live.call_service(gauge_field(body), static_cast<int32_t>(integer_field(body, "id", -2147483648ll, 2147483647ll)));
    });
    post("/api/set", [](LivePanel& live, const json& body) { live.set_variable(word_text(body, "token", 1), real_text(body, "value")); });
    post("/api/key", [](LivePanel& live, const json& body) { live.send_key(word_text(body, "id", 0), word_text(body, "value", 0)); });
    server.Post("/api/record", guarded([&panel, reply](const httplib::Request& request, httplib::Response& response) {
        reply(response, panel.record(gauge_field(request_body(request))));
    }));
}

}  // namespace kestrel::serve
