// The live panel's answers in JSON and its refusals.
#include "panel_replies.h"

namespace kestrel::serve {

std::string json_text(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void reply_json(httplib::Response& response, const nlohmann::json& body) {
    response.set_content(json_text(body), "application/json");
}

void reply_refusal(const httplib::Request& request, httplib::Response& response, const Refusal& refusal) {
    response.status = refusal.status;
    if (request.path.rfind("/api/", 0) == 0) reply_json(response, {{"error", refusal.reason}});
    else response.set_content(refusal.reason + "\n", "text/plain; charset=utf-8");
}

}  // namespace kestrel::serve
