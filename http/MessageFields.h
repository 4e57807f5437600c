// What velmo-http reads from a request's body and query before it calls
// the gateway: pure functions of the request, with no bus.
#pragma once

#include "http/HttpExchange.h"

#include <cstddef>
#include <string>

namespace velmo::http {

// Fields of one query or form: far more than any client of these
// endpoints sends.
inline constexpr std::size_t kMaxFields = 256;

// Whether the request's Content-Type is JSON.
bool IsJson(const Request& req);

// What a POST /v1/messages body asks: to and text, and expire ("" when
// not given): how long the message may wait in the queue.
struct NewMessage {
    std::string to, text, expire;
};

// The fields of a POST /v1/messages body (JSON or a form, by
// Content-Type); 0 when read, else the status to answer (400, 415) with
// the reason in error. The service checks the values themselves.
int ReadMessageFields(const Request& req, NewMessage& message, std::string& error);

}  // namespace velmo::http
