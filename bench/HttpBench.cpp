// Sends over HTTP against sends over the bus, in one run: a velmosvc with
// the loopback device under a temporary system root and its private bus,
// a velmo-http beside it, and clients in this process. Prints, for 1 and
// 16 connections, messages per second and the p50 / p99 latency of one
// send as the client sees it:
//
//   HTTP      POST /v1/messages on a kept-alive connection to velmo-http
//   gateway   the gateway's Send over a bus connection of the client's own
//   NewSMS    the automation object's Send, one object per connection
//   velmo     the velmo send program, started once per message
//
// Every send writes and syncs the message file before it is answered, so
// the figures include the disk's sync.
//
//   http_bench [--messages N]   (N per run, default 2000; velmo runs N / 10)
#include "gatewayclient/GatewayClient.h"
#include "interfaces/VelmoLib.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "platform/Text.h"
#include "ServiceRoot.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr char kToken[] = "bench-token-0123456789abcdef";
constexpr char kTo[] = "+491711234567";
constexpr char kText[] = "Disk usage on db1 is above 90%";

using bench::Figures;
using bench::Run;

// One connection's sender: set up once, then one send per call (true when
// it went through).
using Sender = std::function<bool()>;
using MakeSender = std::function<Sender()>;

Figures Measure(const MakeSender& make, int connections, int messages)
{
    std::vector<Sender> senders;
    for (int c = 0; c < connections; ++c)
        senders.push_back(make());
    std::vector<std::vector<double>> latencies(connections);
    std::atomic<int> failures{0};
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            for (int i = c; i < messages; i += connections) {
                auto t0 = Clock::now();
                bool ok = senders[c]();
                latencies[c].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                if (!ok)
                    ++failures;
            }
        });
    for (auto& t : threads)
        t.join();
    return bench::Summarise(latencies, std::chrono::duration<double>(Clock::now() - start).count(), failures.load());
}

// One kept-alive connection to velmo-http; a failed request reconnects.
Sender HttpSender(int port)
{
    namespace beast = boost::beast;
    namespace bhttp = boost::beast::http;
    using tcp = boost::asio::ip::tcp;
    struct Connection {
        boost::asio::io_context ioc;
        beast::tcp_stream stream{ioc};
        beast::flat_buffer buffer;
        bool open = false;
    };
    auto c = std::make_shared<Connection>();
    bhttp::request<bhttp::string_body> req{bhttp::verb::post, "/v1/messages", 11};
    req.set(bhttp::field::host, "127.0.0.1");
    req.set(bhttp::field::authorization, std::string("Bearer ") + kToken);
    req.set(bhttp::field::content_type, "application/json");
    req.body() = std::string("{\"to\":\"") + kTo + "\",\"text\":\"" + kText + "\"}";
    req.prepare_payload();
    return [c, req, port] {
        beast::error_code ec;
        if (!c->open) {
            c->stream.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), ec);
            c->stream.socket().set_option(tcp::no_delay(true), ec);
            c->buffer.clear();
            c->open = !ec;
        }
        bhttp::response<bhttp::string_body> res;
        if (c->open)
            bhttp::write(c->stream, req, ec);
        if (c->open && !ec)
            bhttp::read(c->stream, c->buffer, res, ec);
        if (ec || !c->open) {
            c->stream.close();
            c->open = false;
            return false;
        }
        return res.result_int() == 201;
    };
}

Sender GatewaySender()
{
    std::string error;
    std::shared_ptr<velmo::gatewayclient::GatewayClient> client =
        velmo::gatewayclient::GatewayClient::Connect("", error);
    return [client] {
        std::string id;
        return client && client->Send(kTo, kText, id);
    };
}

Sender NewSmsSender()
{
    velmo::ComPtr<IDispatch> sms;
    (void)CoCreateInstance(CLSID_NewSMS, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, sms.ReceiveVoid());
    DISPID send = -1;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Send")};
    if (sms)
        (void)sms->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &send);
    return [sms, send] {
        if (!sms)
            return false;
        velmo::Variant to = velmo::Variant::FromBstr(velmo::Utf8ToUtf16(kTo));
        velmo::Variant body = velmo::Variant::FromBstr(velmo::Utf8ToUtf16(kText));
        VARIANT args[2] = {body, to};  // reverse order
        DISPPARAMS params{args, nullptr, 2, 0};
        velmo::Variant id;
        return SUCCEEDED(sms->Invoke(send, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, id.Receive(),
                                     nullptr, nullptr));
    };
}

Sender VelmoSender()
{
    std::string command = std::string("'" VELMO_VELMO "' send '") + kTo + "' '" + kText + "' >/dev/null";
    return [command] { return Run(command); };
}

// A port no one listens on now: the kernel's pick for a socket bound to 0.
int FreePort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    if (s >= 0)
        close(s);
    return port;
}

pid_t Start(const std::vector<std::string>& args)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv)
{
    int messages = bench::MessagesOption(argc, argv, 2000, 10);
    std::string dir = bench::MakeServiceRoot("http_bench");
    if (dir.empty())
        return 1;
    std::ofstream(dir + "/http-tokens") << kToken << "\n";
    std::filesystem::permissions(dir + "/http-tokens",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    int port = FreePort();
    std::ofstream(dir + "/http.conf") << "listen = 127.0.0.1:" << port << "\ntokens = " << dir
                                      << "/http-tokens\nthreads = 16\n";
    pid_t svc = Start({VELMO_SVC, "/DEBUG"});
    pid_t http = Start({VELMO_HTTP, "--config", dir + "/http.conf"});
    velmo::RegisterBusInterfaces(velmo::velmolib::kInterfaces);
    // The service takes messages a moment after it is on the bus, and
    // velmo-http listens a moment after it starts: wait until a send
    // goes through each way.
    MakeSender overHttp = [port] { return HttpSender(port); };
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline &&
           (Measure(overHttp, 1, 1).failures != 0 || Measure(NewSmsSender, 1, 1).failures != 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::printf("Sends of one message, %d per run (velmosvc with the loopback device; velmo send %d per run)\n",
                messages, messages / 10);
    struct Way {
        const char* name;
        MakeSender make;
        int divisor;
    } ways[] = {
        {"HTTP   ", overHttp, 1},
        {"gateway", GatewaySender, 1},
        {"NewSMS ", NewSmsSender, 1},
        {"velmo  ", VelmoSender, 10},
    };
    int rc = 0;
    double ratio[2] = {0, 0};  // HTTP over NewSMS, p50, for 1 and 16 connections
    int row = 0;
    for (int connections : {1, 16}) {
        double httpP50 = 0;
        for (const Way& way : ways) {
            Figures f = Measure(way.make, connections, messages / way.divisor);
            std::printf("%s %2d connection%s: %8.0f sends/s   p50 %7.0f us   p99 %7.0f us%s\n", way.name, connections,
                        connections == 1 ? " " : "s", f.perSecond, f.p50us, f.p99us,
                        f.failures ? "   (some sends failed)" : "");
            if (f.failures)
                rc = 1;
            if (&way == &ways[0])
                httpP50 = f.p50us;
            if (&way == &ways[2] && f.p50us > 0)
                ratio[row] = httpP50 / f.p50us;
        }
        ++row;
    }
    std::printf("one HTTP send costs %.2f (1 connection) and %.2f (16) times one NewSMS Send over the bus, "
                "p50 against p50; the target is 2 at most\n",
                ratio[0], ratio[1]);
    kill(http, SIGTERM);
    kill(svc, SIGTERM);
    waitpid(http, nullptr, 0);
    waitpid(svc, nullptr, 0);
    bench::RemoveServiceRoot(dir);
    return rc;
}
