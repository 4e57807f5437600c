// velmo-http's endpoints, each turned into calls on the service's gateway
// (docs/velmo-http.md):
//
//   POST /v1/messages        {"to", "text"} as JSON or a form: 201 {"id"}
//   GET  /v1/messages/{id}   the message: 200, 404 for an unknown id
//   GET  /v1/devices         the devices: 200
//   POST /v1/alertmanager    an Alertmanager notification: one SMS per
//                            distinct recipient ("to" in the query, else
//                            the configured list), 201 {"messages": [...]}
//   GET  /metrics            the Prometheus text format
//
// Every request needs "Authorization: Bearer <token>" (401 without; the
// metrics may be opened by the configuration). Every answer but the
// metrics is JSON; an error is {"error": "<what went wrong>"}.
#pragma once

#include "http/HttpConfig.h"
#include "http/HttpExchange.h"
#include "http/TokenFile.h"

namespace velmo::http {

// The answer to one request. config and tokens must outlive every call;
// calls may run on several threads at once (each keeps its own bus
// connection). Never throws.
Response Serve(const Request& req, const HttpConfig& config, const TokenFile& tokens);

}  // namespace velmo::http
