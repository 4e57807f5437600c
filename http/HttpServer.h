// velmo-http's HTTP/1.1 server, on Boost.Beast: it reads requests, hands
// each whole one to a handler and writes the answers, in order, on a few
// threads that never wait for a client.
//
// Every connection is held to the limits: the request line and headers
// within maxHeaderBytes and maxHeaders (431 beyond), the body within
// maxBody whether it comes whole or chunked (413), the line and headers
// within headerTimeout of the wait for them and the whole request within
// requestTimeout (the connection is closed), at most maxConnections
// connections and maxClientConnections from one address (503 and closed).
// A request that is not HTTP is answered 400 and its connection closed.
// Pipelined requests are read one after the other and answered in order.
// A slow client holds no thread: reads and writes wait on the event loop
// that `threads` threads run, and a handler runs on one of them, so up to
// `threads` handlers run at once.
#pragma once

#include "http/HttpExchange.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace velmo::http {

struct ServerLimits {
    std::size_t maxBody = 64 * 1024;
    std::size_t maxHeaderBytes = 16 * 1024;
    std::size_t maxHeaders = 100;
    std::chrono::milliseconds headerTimeout{10000};
    std::chrono::milliseconds requestTimeout{30000};
    std::size_t maxConnections = 512;
    std::size_t maxClientConnections = 32;
    std::size_t threads = 8;
};

class HttpServer {
public:
    // handler answers each request; it runs on the server's threads, up to
    // `threads` at once, and must not throw (a throw is answered 500).
    using Handler = std::function<Response(const Request&)>;

    HttpServer(const ServerLimits& limits, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds address (a name or a number) and port and listens. False with
    // the reason in why when it cannot.
    bool Listen(const std::string& address, int port, std::string& why);
    // Serves until Stop, on `threads` threads (the caller's among them).
    void Run();
    // Ends Run; may be called from any thread, before Run too.
    void Stop();

    // What the server and its connections share; defined where they are.
    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace velmo::http
