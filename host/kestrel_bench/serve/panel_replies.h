// How the live panel answers: JSON that survives text which is not UTF-8, and a refusal
// with its status and reason, as JSON for the page's calls and as plain text for pages.
#pragma once

#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "live_panel.h"

namespace kestrel::serve {

// JSON for the page; text that is not UTF-8 (a message quoting module bytes) is replaced
// rather than failing the request.
std::string json_text(const nlohmann::json& value);

void reply_json(httplib::Response& response, const nlohmann::json& body);
void reply_refusal(const httplib::Request& request, httplib::Response& response, const Refusal& refusal);

}  // namespace kestrel::serve
