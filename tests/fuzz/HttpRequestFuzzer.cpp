// libFuzzer entry for what velmo-http reads from a request before it calls
// the gateway: a query or form, a JSON body, an Alertmanager notification.
// The first byte picks the way in, the rest is the client's. Nothing may
// crash, overflow the stack or read outside the input, and the limits
// must hold: no field list longer than its bound, no alert text longer
// than its maximum.
#include "http/AlertText.h"
#include "http/FormFields.h"
#include "http/JsonBody.h"
#include "http/MessageFields.h"

#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmo::http;
    if (size == 0)
        return 0;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0: {
        std::optional<Fields> fields = ParseFields(input, kMaxFields);
        Check(!fields || fields->size() <= kMaxFields);
        if (fields)
            (void)Recipients(*fields, "to");
        break;
    }
    case 1:
    case 2: {
        Request req;
        req.headers.emplace_back("content-type",
                                 data[0] % 4 == 1 ? "application/json" : "application/x-www-form-urlencoded");
        req.body = input;
        velmo::http::NewMessage message;
        std::string error;
        int status = ReadMessageFields(req, message, error);
        Check(status == 0 || (status == 400 && !error.empty()));
        break;
    }
    default: {
        std::string why;
        std::optional<nlohmann::json> body = ParseJsonBody(input, why);
        Check(body || !why.empty());
        if (!body)
            break;
        std::size_t leftOut = 0;
        std::optional<std::string> text = AlertText(*body, 160, 100, why, &leftOut);
        Check(!text || Characters(*text) <= 160);
        break;
    }
    }
    return 0;
}
