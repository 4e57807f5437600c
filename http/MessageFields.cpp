#include "http/MessageFields.h"

#include "http/FormFields.h"
#include "http/JsonBody.h"

#include <optional>
#include <utility>

namespace velmo::http {

namespace {

constexpr char kJson[] = "application/json";
constexpr char kForm[] = "application/x-www-form-urlencoded";

}  // namespace

bool IsJson(const Request& req) { return req.Header("content-type").rfind(kJson, 0) == 0; }

int ReadMessageFields(const Request& req, NewMessage& message, std::string& error)
{
    if (IsJson(req)) {
        std::optional<nlohmann::json> body = ParseJsonBody(req.body, error);
        if (!body)
            return 400;
        if (!body->is_object()) {
            error = "the body is not a JSON object";
            return 400;
        }
        for (auto [field, value] : {std::pair{"to", &message.to}, std::pair{"text", &message.text}}) {
            auto it = body->find(field);
            if (it == body->end() || !it->is_string()) {
                error = std::string("\"") + field + "\" is missing or not a string";
                return 400;
            }
            *value = it->get<std::string>();
        }
        if (auto it = body->find("expire"); it != body->end()) {
            if (!it->is_string()) {
                error = "\"expire\" is not a string such as \"30m\"";
                return 400;
            }
            message.expire = it->get<std::string>();
        }
        return 0;
    }
    if (req.Header("content-type").rfind(kForm, 0) == 0) {
        std::optional<Fields> form = ParseFields(req.body, kMaxFields);
        if (!form) {
            error = "the form has more than " + std::to_string(kMaxFields) + " fields";
            return 400;
        }
        for (const char* field : {"to", "text"})
            if (!HasField(*form, field)) {
                error = std::string("\"") + field + "\" is missing";
                return 400;
            }
        std::vector<std::string> recipients = Recipients(*form, "to");
        message.to = recipients.empty() ? std::string() : recipients[0];
        message.text = FirstValue(*form, "text");
        message.expire = FirstValue(*form, "expire");
        return 0;
    }
    error = "send JSON (application/json) or a form (application/x-www-form-urlencoded)";
    return 415;
}

}  // namespace velmo::http
