#include "http/HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velmo::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// After an error answer that closes the connection, what the client still
// sends is read and dropped for this long (and up to kDrainBytes), so the
// close does not reset the connection before the client read the answer.
constexpr std::chrono::milliseconds kDrainTime{1000};
constexpr std::size_t kDrainBytes = 256 * 1024;
// The read buffer beyond the header limit: one read's worth of body.
constexpr std::size_t kReadRoom = 64 * 1024;
// After a failed accept (no descriptor left), the pause before the next.
constexpr std::chrono::milliseconds kAcceptPause{100};

bool Quiet(const beast::error_code& ec)
{
    return ec == bhttp::error::end_of_stream || ec == net::error::eof || ec == net::error::operation_aborted ||
           ec == beast::error::timeout || ec == net::error::connection_reset || ec == net::error::broken_pipe;
}

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

struct HttpServer::State {
    State(const ServerLimits& l, Handler h) : limits(l), handler(std::move(h)) {}

    const ServerLimits limits;
    const Handler handler;
    net::io_context ioc;
    tcp::acceptor acceptor{ioc};
    net::steady_timer acceptPause{ioc};

    // Counts a new connection from peer; false when it is one too many.
    bool Admit(const std::string& peer)
    {
        std::lock_guard guard(lock);
        std::size_t& mine = perClient[peer];
        if (open >= limits.maxConnections || mine >= limits.maxClientConnections) {
            if (mine == 0)
                perClient.erase(peer);
            return false;
        }
        ++open;
        ++mine;
        return true;
    }
    void Leave(const std::string& peer)
    {
        std::lock_guard guard(lock);
        --open;
        auto it = perClient.find(peer);
        if (it != perClient.end() && --it->second == 0)
            perClient.erase(it);
    }

    std::mutex lock;  // guards open and perClient
    std::size_t open = 0;
    std::map<std::string, std::size_t> perClient;
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, std::shared_ptr<HttpServer::State> state, std::string peer, bool admitted)
        : stream_(std::move(socket)), state_(std::move(state)), limits_(state_->limits), peer_(std::move(peer)),
          admitted_(admitted), buffer_(limits_.maxHeaderBytes + kReadRoom)
    {}
    ~Session()
    {
        if (admitted_)
            state_->Leave(peer_);
    }

    void Start()
    {
        beast::error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);  // answers only leave a little later without it
        if (admitted_)
            return ReadHeader();
        Send(ErrorResponse(503, "too many connections are open: try again later"), false);
    }

private:
    void ReadHeader()
    {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
        parser_->body_limit(static_cast<std::uint64_t>(limits_.maxBody));
        deadline_ = std::chrono::steady_clock::now() + limits_.requestTimeout;
        stream_.expires_after(limits_.headerTimeout);
        bhttp::async_read_header(stream_, buffer_, *parser_,
                                 beast::bind_front_handler(&Session::OnHeader, shared_from_this()));
    }

    void OnHeader(beast::error_code ec, std::size_t)
    {
        if (ec)
            return Failed(ec);
        const auto& header = parser_->get();
        if (static_cast<std::size_t>(std::distance(header.begin(), header.end())) > limits_.maxHeaders)
            return Send(
                ErrorResponse(431, "the request has more than " + std::to_string(limits_.maxHeaders) + " header lines"),
                false);
        stream_.expires_at(deadline_);
        if (Lower(View(header[bhttp::field::expect])) == "100-continue" && !parser_->is_done()) {
            continue_.emplace(bhttp::status::continue_, header.version());
            return bhttp::async_write(stream_, *continue_,
                                      beast::bind_front_handler(&Session::OnContinue, shared_from_this()));
        }
        ReadBody();
    }

    void OnContinue(beast::error_code ec, std::size_t)
    {
        if (ec)
            return;  // the client is gone
        stream_.expires_at(deadline_);
        ReadBody();
    }

    void ReadBody()
    {
        bhttp::async_read(stream_, buffer_, *parser_,
                          beast::bind_front_handler(&Session::OnRequest, shared_from_this()));
    }

    void Failed(const beast::error_code& ec)
    {
        if (Quiet(ec))
            return;  // the client left, or was too slow: nothing more to say
        if (ec == bhttp::error::header_limit || ec == bhttp::error::buffer_overflow)
            return Send(ErrorResponse(431, "the request line and headers are longer than " +
                                               std::to_string(limits_.maxHeaderBytes) + " bytes"),
                        false);
        if (ec == bhttp::error::body_limit)
            return Send(ErrorResponse(413, "the body is longer than " + std::to_string(limits_.maxBody) + " bytes"),
                        false);
        Send(ErrorResponse(400, "the request is not valid HTTP/1.1 (" + ec.message() + ")"), false);
    }

    void OnRequest(beast::error_code ec, std::size_t)
    {
        if (ec)
            return Failed(ec);
        bhttp::request<bhttp::string_body> message = parser_->release();
        Request req;
        req.method = std::string(View(message.method_string()));
        std::string_view target = View(message.target());
        std::size_t question = target.find('?');
        req.path = std::string(target.substr(0, question));
        if (question != std::string_view::npos)
            req.query = std::string(target.substr(question + 1));
        for (const auto& field : message)
            req.headers.emplace_back(Lower(View(field.name_string())), std::string(View(field.value())));
        req.body = std::move(message.body());
        req.peer = peer_;
        Response res;
        try {
            res = state_->handler(req);
        } catch (...) {
            res = ErrorResponse(500, "the request could not be handled");
        }
        Send(std::move(res), message.keep_alive());
    }

    void Send(Response res, bool keepAlive)
    {
        auto answer = std::make_shared<bhttp::response<bhttp::string_body>>(static_cast<bhttp::status>(res.status), 11);
        answer->set(bhttp::field::content_type, res.contentType);
        for (const auto& [name, value] : res.headers)
            answer->set(name, value);
        answer->body() = std::move(res.body);
        answer->keep_alive(keepAlive);
        answer->prepare_payload();
        stream_.expires_after(limits_.requestTimeout);
        bhttp::async_write(stream_, *answer,
                           [self = shared_from_this(), answer, keepAlive](beast::error_code ec, std::size_t) {
                               self->OnWritten(ec, keepAlive);
                           });
    }

    void OnWritten(beast::error_code ec, bool keepAlive)
    {
        if (ec)
            return;
        if (keepAlive)
            return ReadHeader();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);  // the client may be gone already
        stream_.expires_after(kDrainTime);
        Drain();
    }

    void Drain()
    {
        stream_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    self->drained_ += n;
                                    if (!ec && self->drained_ < kDrainBytes)
                                        self->Drain();
                                });
    }

    beast::tcp_stream stream_;
    std::shared_ptr<HttpServer::State> state_;
    const ServerLimits& limits_;
    const std::string peer_;
    const bool admitted_;
    beast::flat_buffer buffer_;
    std::optional<bhttp::request_parser<bhttp::string_body>> parser_;
    std::optional<bhttp::response<bhttp::empty_body>> continue_;
    std::chrono::steady_clock::time_point deadline_;
    std::array<char, 4096> scratch_{};
    std::size_t drained_ = 0;
};

void Accept(const std::shared_ptr<HttpServer::State>& state)
{
    state->acceptor.async_accept(net::make_strand(state->ioc), [state](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !state->acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors, most likely: pause rather than spin.
            std::fprintf(stderr, "velmo-http: a connection could not be taken (%s)\n", ec.message().c_str());
            state->acceptPause.expires_after(kAcceptPause);
            state->acceptPause.async_wait([state](beast::error_code) { Accept(state); });
            return;
        }
        beast::error_code peerError;
        std::string peer = socket.remote_endpoint(peerError).address().to_string();
        if (!peerError) {
            bool admitted = state->Admit(peer);
            std::make_shared<Session>(std::move(socket), state, peer, admitted)->Start();
        }
        Accept(state);
    });
}

}  // namespace

HttpServer::HttpServer(const ServerLimits& limits, Handler handler)
    : state_(std::make_shared<State>(limits, std::move(handler)))
{}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Listen(const std::string& address, int port, std::string& why)
{
    beast::error_code ec;
    tcp::resolver resolver(state_->ioc);
    auto found =
        resolver.resolve(address, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) {
        why = "cannot find the address " + address + (ec ? " (" + ec.message() + ")" : "");
        return false;
    }
    tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = state_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    // The port may be bound again at once after a restart; SO_REUSEPORT is
    // never set, so a second velmo-http on the same port fails instead of
    // sharing its connections unnoticed.
    if (!ec)
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(net::socket_base::max_listen_connections, ec);  // SOMAXCONN: clients that connect together wait
    if (ec) {
        why = "cannot listen on " + address + " port " + std::to_string(port) + " (" + ec.message() + ")";
        beast::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

void HttpServer::Run()
{
    if (!state_->acceptor.is_open())
        return;
    Accept(state_);
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < state_->limits.threads; ++i)
        threads.emplace_back([state = state_] { state->ioc.run(); });
    state_->ioc.run();
    for (std::thread& t : threads)
        t.join();
}

void HttpServer::Stop() { state_->ioc.stop(); }

}  // namespace velmo::http
