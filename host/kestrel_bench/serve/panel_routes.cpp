// The routes of the live panel and the parsing of their fields. Every failure is a
// refusal with a status and a reason in JSON, which the page shows. Numbers the user types
// are read as a scenario reads them, so that what the page takes a scenario takes too.
#include "panel_routes.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "panel_replies.h"
#include "scenario.h"

namespace kestrel::serve {
namespace {

using nlohmann::json;
using Names = std::vector<std::string_view>;  // string literals, which outlive every route

std::string listed(const Names& names) {
    std::string text;
    for (const std::string_view name : names) text.append(text.empty() ? "" : ", ").append(name);
    return text.empty() ? "none" : text;
}

// The body: a JSON object with only the fields the call takes.
json request_body(const httplib::Request& request, const Names& fields) {
    json body;
    try {
        body = json::parse(request.body);
    } catch (const json::exception&) {
        throw Refusal{400, "the body is not JSON (send a JSON object, {} when the call takes no fields)"};
    }
    if (!body.is_object()) throw Refusal{400, "the body must be a JSON object"};
    for (const auto& [name, value] : body.items())
        if (std::find(fields.begin(), fields.end(), name) == fields.end())
            throw Refusal{400, "unknown field '" + name.substr(0, 40) + "' (this call takes " + listed(fields) + ")"};
    return body;
}

// Query parameters: only those the call takes, each once; `token` is the guard's.
void check_parameters(const httplib::Request& request, const Names& names) {
    for (const auto& [name, value] : request.params) {
        if (name == "token") continue;
        if (std::find(names.begin(), names.end(), name) == names.end())
            throw Refusal{400, "unknown parameter '" + name.substr(0, 40) + "' (this call takes " + listed(names) + ")"};
        if (request.get_param_value_count(name.c_str()) > 1) throw Refusal{400, "parameter '" + name + "' is given twice"};
    }
}

// A field the page sets itself (a gauge index, a pixel): a JSON whole number.
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

// A field the user types: the text as a scenario would hold it.
std::string typed_field(const json& body, const char* name) {
    if (!body.contains(name) || !body.at(name).is_string())
        throw Refusal{400, std::string("field '") + name + "' must be a string, the number as a scenario writes it"};
    return body.at(name).get<std::string>();
}

// A whole number as a scenario's token, id or key value: decimal or 0x hexadecimal.
int64_t whole_text(const json& body, const char* name, const std::string& what, int64_t low, int64_t high) {
    const std::string text = typed_field(body, name);
    const std::optional<int64_t> number = scenario::parse_whole_number(text);
    if (!number)
        throw Refusal{400, "'" + text.substr(0, 40) + "' is not " + what + ": write a whole number, in decimal (336) or hexadecimal (0x150)"};
    if (*number < low || *number > high)
        throw Refusal{400, what + " must lie between " + std::to_string(low) + " and " + std::to_string(high) + ", found '" +
                               text.substr(0, 40) + "'"};
    return *number;
}

double value_text(const json& body, const char* name) {
    const std::string text = typed_field(body, name);
    const std::optional<double> value = scenario::parse_value(text);
    if (!value)
        throw Refusal{400, "'" + text.substr(0, 40) + "' is not a number: write 2.5, -1e3, 0x10, nan, inf or -inf"};
    return *value;
}

uint32_t word_text(const json& body, const char* name, const std::string& what) {
    return static_cast<uint32_t>(whole_text(body, name, what, std::numeric_limits<int32_t>::min(), 0xFFFFFFFFll));
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

int scale_parameter(const httplib::Request& request) {
    const int scale = query_number<int>(request, "scale", 0, true);
    if (std::find(std::begin(panel_scales), std::end(panel_scales), scale) == std::end(panel_scales))
        throw Refusal{400, "scale must be 1, 2 or 4"};
    return scale;
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

void add_routes(httplib::Server& server, LivePanel& panel, const std::vector<PageFile>& page) {
    server.set_payload_max_length(max_body_bytes);

    // Refusals that the library makes itself (an unknown path, a body too long or without
    // its length) carry a reason too.
    server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty()) return;
        std::string reason = "HTTP " + std::to_string(response.status);
        if (response.status == 413) reason = "the body is longer than " + std::to_string(max_body_bytes) + " bytes";
        else if (response.status == 404) reason = "no such page or call";
        else if (response.status == 400 || response.status == 411) reason = "malformed request (a POST needs a body with its length)";
        reply_refusal(request, response, Refusal{response.status, reason});
    });
    auto guarded = [](auto handler) {
        return [handler](const httplib::Request& request, httplib::Response& response) {
            try {
                handler(request, response);
            } catch (const Refusal& refusal) {
                reply_refusal(request, response, refusal);
            } catch (const std::exception& error) {
                reply_refusal(request, response, Refusal{500, error.what()});
            }
        };
    };

    for (const PageFile& file : page) {
        auto serve_file = [content = file.content, type = file.type](const httplib::Request& request,
                                                                     httplib::Response& response) {
            check_parameters(request, {});
            response.set_content(content, type);
        };
        server.Get(file.path, guarded(serve_file));
        if (file.path == "/index.html") server.Get("/", guarded(serve_file));
    }
    server.Get("/api/info", guarded([&panel](const httplib::Request& request, httplib::Response& response) {
        check_parameters(request, {});
        reply_json(response, panel.info());
    }));
    server.Get("/api/state", guarded([&panel](const httplib::Request& request, httplib::Response& response) {
        check_parameters(request, {"log_since"});
        reply_json(response, panel.state(query_number<uint64_t>(request, "log_since", 0, false)));
    }));
    server.Get("/api/frame", guarded([&panel](const httplib::Request& request, httplib::Response& response) {
        // The serial only makes each new frame a new address for the browser's cache.
        check_parameters(request, {"gauge", "scale", "serial"});
        query_number<uint64_t>(request, "serial", 0, false);
        const std::vector<uint8_t> png =
            panel.frame_png(query_number<std::size_t>(request, "gauge", 0, true), scale_parameter(request));
        response.set_content(std::string(png.begin(), png.end()), "image/png");
    }));
    // The page's commands: each answers {"ok": true}, or a refusal.
    auto post = [&](const char* path, Names fields, auto act) {
        server.Post(path, guarded([&panel, fields, act](const httplib::Request& request, httplib::Response& response) {
            check_parameters(request, {});
            act(panel, request_body(request, fields));
            reply_json(response, {{"ok", true}});
        }));
    };
    post("/api/play", {}, [](LivePanel& live, const json&) { live.set_playing(true); });
    post("/api/pause", {}, [](LivePanel& live, const json&) { live.set_playing(false); });
    post("/api/step", {}, [](LivePanel& live, const json&) { live.step(); });
    post("/api/restart", {}, [](LivePanel& live, const json&) { live.restart(); });
    post("/api/click", {"gauge", "x", "y", "modifier"}, [](LivePanel& live, const json& body) {
        live.click(gauge_field(body), static_cast<int>(integer_field(body, "x", -100000, 100000)),
                   static_cast<int>(integer_field(body, "y", -100000, 100000)), boolean_field(body, "modifier"));
    });
    // The ranges are a scenario's: a service id is signed, a key value any 32-bit word.
    post("/api/service", {"gauge", "id"}, [](LivePanel& live, const json& body) {
        live.call_service(gauge_field(body), static_cast<int32_t>(whole_text(body, "id", "a service id",
                                                                              std::numeric_limits<int32_t>::min(),
                                                                              std::numeric_limits<int32_t>::max())));
    });
    post("/api/set", {"token", "value"}, [](LivePanel& live, const json& body) {
        live.set_variable(static_cast<uint32_t>(whole_text(body, "token", "a host variable token", 0, 0xFFFFFFFFll)),
                          value_text(body, "value"));
    });
    post("/api/key", {"id", "value"}, [](LivePanel& live, const json& body) {
        live.send_key(static_cast<uint32_t>(whole_text(body, "id", "a key event id", 0, 0xFFFFFFFFll)),
                      word_text(body, "value", "a key event value"));
    });
    server.Post("/api/record", guarded([&panel](const httplib::Request& request, httplib::Response& response) {
        check_parameters(request, {});
        reply_json(response, panel.record(gauge_field(request_body(request, {"gauge"}))));
    }));
}

}  // namespace kestrel::serve
