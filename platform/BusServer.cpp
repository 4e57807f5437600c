// The server end of the automation bus: published classes, the activator,
// the objects handed to clients and the references each client holds.
//
// Everything here runs on the thread that registered the first class (the
// bus thread), inside its main loop, except the method calls, which
// run on the worker pool and hand their outcome back through a queue and
// an eventfd. sd-bus objects never leave the bus thread.
#include "platform/Automation.h"

#include "platform/Activation.h"
#include "platform/ErrorInfo.h"
#include "platform/BusConnection.h"
#include "platform/BusFixedObjects.h"
#include "platform/BusInvoke.h"
#include "platform/Guid.h"
#include "platform/MainLoop.h"
#include "platform/LoopSource.h"
#include "platform/Sync.h"
#include "platform/Text.h"
#include "platform/TypeLib.h"
#include "platform/WorkerPool.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velmo::detail {

namespace {

constexpr unsigned kWorkers = 4;

std::atomic<std::size_t> gExported{0};

struct ClassEntry {
    DWORD cookie;
    CLSID clsid;
    ComPtr<IUnknown> factory;
};

// One object handed out on the bus, and the client connections that hold it.
// Only those connections reach it: to any other it does not exist.
struct Export {
    ComPtr<IDispatch> object;
    IUnknown* identity = nullptr;  // the key of pathOf_
    const DispInterface* iface = nullptr;
    std::unique_ptr<sdbus::IObject> bus;
    std::set<std::string> holders;
};

class BusServer final : public LoopSource {
public:
    explicit BusServer(DWORD thread);
    ~BusServer() override;

    void AddClass(ClassEntry entry) { classes_.push_back(std::move(entry)); }
    bool RemoveClass(DWORD cookie);
    bool Empty() const { return classes_.empty(); }
    DWORD Thread() const { return thread_; }

    int Prepare(std::vector<pollfd>& fds) override;
    void Serve() override;

private:
    std::string CreateInstance(const std::string& className, const std::string& sender);
    std::string ExportFor(IDispatch* object, const std::string& sender);
    // The object at path, if sender holds it; otherwise the error a path
    // with no object gives, so another client learns nothing of it.
    Export& HeldBy(const std::string& path, const std::string& sender);
    void RefuseOverLimit(const std::string& sender) const;
    void Hold(Export& e, const std::string& sender);
    void Unhold(Export& e, const std::string& sender);
    void RegisterMembers(const std::string& path, Export& e);
    void StartCall(const std::string& path, const DispMember& member, sdbus::MethodCall call);
    void FinishCall(std::uint64_t id, const DispMember& member, InvokeOutcome outcome);
    InvokeOutcome CallNow(const std::string& path, const std::string& sender, const DispMember& member,
                          std::vector<Variant> in);
    void Drop(const std::string& path, const std::string& holder);
    void ClientGone(const std::string& name);
    // Work to run on the bus thread after the current dispatch.
    void Later(std::function<void()> work);

    DWORD thread_;
    std::vector<ClassEntry> classes_;
    std::unique_ptr<sdbus::IConnection> conn_;
    std::unique_ptr<sdbus::IObject> activator_;
    std::unique_ptr<FixedObjects> fixed_;
    sdbus::Slot nameWatch_;
    std::map<std::string, Export> exports_;
    std::map<IUnknown*, std::string> pathOf_;
    std::map<std::string, std::size_t> heldCount_;  // objects each client holds
    std::set<std::string> departed_;
    std::map<std::uint64_t, sdbus::MethodCall> pending_;
    std::uint64_t nextPath_ = 1;
    std::uint64_t nextCall_ = 1;

    std::mutex laterMu_;
    std::deque<std::function<void()>> later_;
    int wakeFd_ = -1;
    bool broken_ = false;
    WorkerPool pool_{kWorkers};
};

BusServer::BusServer(DWORD thread) : thread_(thread), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    conn_ = OpenBus(BusRole::Server, std::string());
    // Watch connections going away before any client can call.
    nameWatch_ = conn_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
        [this](sdbus::Message& msg) {
            std::string name, oldOwner, newOwner;
            msg >> name >> oldOwner >> newOwner;
            if (newOwner.empty() && !name.empty() && name[0] == ':')
                ClientGone(name);
        });
    activator_ = sdbus::createObject(*conn_, kActivatorPath);
    activator_->registerMethod(kActivatorInterface, "CreateInstance", "s", {"class"}, "o", {"object"},
                               [this](sdbus::MethodCall call) {
                                   std::string className;
                                   call >> className;
                                   std::string path = CreateInstance(className, call.getSender());
                                   auto reply = call.createReply();
                                   reply << sdbus::ObjectPath(path);
                                   reply.send();
                               });
    activator_->finishRegistration();
    fixed_ =
        std::make_unique<FixedObjects>(*conn_, pool_, [this](std::function<void()> work) { Later(std::move(work)); });
    conn_->requestName(kBusName);
}

BusServer::~BusServer()
{
    pool_.Stop();
    later_.clear();
    pending_.clear();
    fixed_.reset();
    activator_.reset();
    for (auto& [path, e] : exports_)
        e.bus.reset();
    gExported -= exports_.size();
    exports_.clear();  // releases every object
    heldCount_.clear();
    pathOf_.clear();
    nameWatch_.reset();
    try {
        conn_->releaseName(kBusName);
    } catch (const sdbus::Error&) {
        // The connection may already be gone; closing it below frees the name anyway.
    }
    conn_.reset();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool BusServer::RemoveClass(DWORD cookie)
{
    for (auto it = classes_.begin(); it != classes_.end(); ++it)
        if (it->cookie == cookie) {
            classes_.erase(it);
            return true;
        }
    return false;
}

int BusServer::Prepare(std::vector<pollfd>& fds)
{
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    if (broken_)
        return -1;
    auto poll = conn_->getEventLoopPollData();
    fds.push_back(pollfd{poll.fd, poll.events, 0});
    auto relative = poll.getRelativeTimeout();
    if (!relative)
        return -1;
    return static_cast<int>((relative->count() + 999) / 1000);
}

void BusServer::Serve()
{
    std::uint64_t n;
    while (read(wakeFd_, &n, sizeof n) == sizeof n) {
    }
    while (true) {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(laterMu_);
            work.swap(later_);
        }
        for (auto& w : work)
            w();
        bool processed = false;
        try {
            processed = !broken_ && conn_->processPendingRequest();
        } catch (const sdbus::Error& e) {
            // The bus went away: stop serving it rather than spin on a dead
            // connection. Clients cannot reach the objects any more.
            broken_ = true;
            std::fprintf(stderr, "automation bus: connection lost: %s\n", e.what());
            NotifyBusLost(thread_);
        }
        std::lock_guard lock(laterMu_);
        if (!processed && later_.empty())
            return;
    }
}

void BusServer::Later(std::function<void()> work)
{
    {
        std::lock_guard lock(laterMu_);
        later_.push_back(std::move(work));
    }
    std::uint64_t one = 1;
    // The eventfd cannot overflow at these counts; a failed write only delays the work to the next wake.
    (void)!write(wakeFd_, &one, sizeof one);
}

std::string BusServer::CreateInstance(const std::string& className, const std::string& sender)
{
    std::u16string text = Utf8ToUtf16(className);
    CLSID clsid{};
    HRESULT hr = !text.empty() && text[0] == u'{' ? CLSIDFromString(text.c_str(), &clsid)
                                                  : CLSIDFromProgID(text.c_str(), &clsid);
    if (FAILED(hr))
        throw ErrorFromHResult(REGDB_E_CLASSNOTREG, nullptr);
    RefuseOverLimit(sender);
    for (auto& c : classes_) {
        if (c.clsid != clsid)
            continue;
        ComPtr<IClassFactory> factory;
        ComPtr<IDispatch> object;
        hr = c.factory.As(factory);
        if (SUCCEEDED(hr))
            hr = factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid());
        if (FAILED(hr))
            throw ErrorFromHResult(hr, nullptr);
        return ExportFor(object.get(), sender);
    }
    throw ErrorFromHResult(REGDB_E_CLASSNOTREG, nullptr);
}

std::string BusServer::ExportFor(IDispatch* object, const std::string& sender)
{
    ComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, identity.ReceiveVoid())))
        throw ErrorFromHResult(E_NOINTERFACE, nullptr);
    std::string path;
    auto known = pathOf_.find(identity.get());
    // Only a new holding counts against the sender's limit.
    if (known == pathOf_.end() || !exports_[known->second].holders.count(sender))
        RefuseOverLimit(sender);
    if (known != pathOf_.end()) {
        path = known->second;
    } else {
        const DispInterface* iface = BusInterfaceOf(object);
        if (!iface)
            throw ErrorFromHResult(E_NOINTERFACE, nullptr);
        path = kObjectPathPrefix + std::to_string(nextPath_++);
        Export& e = exports_[path];
        e.object = ComPtr<IDispatch>(object);
        e.identity = identity.get();
        e.iface = iface;
        RegisterMembers(path, e);
        pathOf_[identity.get()] = path;
        ++gExported;
    }
    // A client that left before its reply was built holds nothing; the
    // object goes when no other client holds it.
    if (!departed_.count(sender))
        Hold(exports_[path], sender);
    else if (exports_[path].holders.empty())
        Later([this, path] { Drop(path, std::string()); });
    return path;
}

Export& BusServer::HeldBy(const std::string& path, const std::string& sender)
{
    auto it = exports_.find(path);
    if (it == exports_.end() || !it->second.holders.count(sender))
        throw sdbus::Error("org.freedesktop.DBus.Error.UnknownObject", "Unknown object '" + path + "'.");
    return it->second;
}

void BusServer::RefuseOverLimit(const std::string& sender) const
{
    auto it = heldCount_.find(sender);
    if (it != heldCount_.end() && it->second >= kMaxObjectsPerClient)
        throw sdbus::Error(kExceptionError, "This connection already holds " + std::to_string(kMaxObjectsPerClient) +
                                                " objects, the most one connection may hold: release one first");
}

void BusServer::Hold(Export& e, const std::string& sender)
{
    if (e.holders.insert(sender).second)
        ++heldCount_[sender];
}

void BusServer::Unhold(Export& e, const std::string& sender)
{
    if (!e.holders.erase(sender))
        return;
    auto it = heldCount_.find(sender);
    if (it != heldCount_.end() && --it->second == 0)
        heldCount_.erase(it);
}

void BusServer::RegisterMembers(const std::string& path, Export& e)
{
    e.bus = sdbus::createObject(*conn_, path);
    std::string ifaceName = Utf16ToUtf8(e.iface->busName);
    for (const DispMember& m : e.iface->members) {
        std::string name = Utf16ToUtf8(m.name);
        if (m.kind == DISPATCH_METHOD) {
            std::vector<std::string> inNames, outNames;
            for (const auto& a : m.args)
                if (a.dir == ArgDir::In)
                    inNames.push_back(Utf16ToUtf8(a.name));
            for (auto dir : {ArgDir::Retval, ArgDir::Out})
                for (const auto& a : m.args)
                    if (a.dir == dir)
                        outNames.push_back(Utf16ToUtf8(a.name));
            e.bus->registerMethod(ifaceName, name, InputSignature(m), inNames, OutputSignature(m), outNames,
                                  [this, path, &m](sdbus::MethodCall call) { StartCall(path, m, std::move(call)); });
        } else if (m.kind == DISPATCH_PROPERTYGET) {
            const DispMember* put = nullptr;
            for (const DispMember& p : e.iface->members)
                if (p.dispid == m.dispid && p.kind == DISPATCH_PROPERTYPUT)
                    put = &p;
            // A property reply goes back to the caller: its destination is the sender.
            auto get = [this, path, &m](sdbus::PropertyGetReply& reply) {
                InvokeOutcome o = CallNow(path, reply.getDestination(), m, {});
                if (o.error)
                    throw *o.error;
                AppendValue(reply, m.result, o.result, [](IDispatch*) -> std::string {
                    throw BusValueError(E_NOTIMPL, "object-valued properties are not served");
                });
            };
            if (put) {
                e.bus->registerProperty(ifaceName, name, BusType(m.result), get,
                                        [this, path, put](sdbus::PropertySetCall& call) {
                                            Variant value = ReadValue(call, put->result, nullptr);
                                            std::vector<Variant> in;
                                            in.push_back(std::move(value));
                                            InvokeOutcome o = CallNow(path, call.getSender(), *put, std::move(in));
                                            if (o.error)
                                                throw *o.error;
                                        });
            } else {
                e.bus->registerProperty(ifaceName, name, BusType(m.result), get);
            }
        }
    }
    e.bus->registerMethod(kObjectInterface, "Release", "", "", [this, path](sdbus::MethodCall call) {
        Unhold(HeldBy(path, call.getSender()), call.getSender());
        call.createReply().send();
        // Not while sd-bus runs this object's own callback.
        Later([this, path] { Drop(path, std::string()); });
    });
    e.bus->finishRegistration();
}

void BusServer::StartCall(const std::string& path, const DispMember& member, sdbus::MethodCall call)
{
    ComPtr<IDispatch> object = HeldBy(path, call.getSender()).object;
    std::vector<Variant> in;
    try {
        for (const auto& a : member.args)
            if (a.dir == ArgDir::In)
                in.push_back(ReadValue(call, a.type, nullptr));
    } catch (const BusValueError& e) {
        throw ErrorFromHResult(e.hr, nullptr);
    }
    std::string client = call.getSender();
    std::uint64_t id = nextCall_++;
    pending_.emplace(id, std::move(call));
    pool_.Post(client, [this, id, object, &member, in = std::move(in)]() mutable {
        InvokeOutcome outcome = InvokeMember(object.get(), member, std::move(in));
        object.reset();
        auto shared = std::make_shared<InvokeOutcome>(std::move(outcome));
        Later([this, id, &member, shared] { FinishCall(id, member, std::move(*shared)); });
    });
}

void BusServer::FinishCall(std::uint64_t id, const DispMember& member, InvokeOutcome outcome)
{
    auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    sdbus::MethodCall call = std::move(it->second);
    pending_.erase(it);
    struct ForgetDeparted {
        BusServer& server;
        std::string sender;
        ~ForgetDeparted()
        {
            for (const auto& [id, c] : server.pending_)
                if (c.getSender() == sender)
                    return;
            server.departed_.erase(sender);
        }
    } forget{*this, call.getSender()};
    try {
        if (outcome.error) {
            call.createErrorReply(*outcome.error).send();
            return;
        }
        std::string sender = call.getSender();
        auto exporter = [this, &sender](IDispatch* object) { return ExportFor(object, sender); };
        auto reply = call.createReply();
        for (const auto& a : member.args)
            if (a.dir == ArgDir::Retval)
                AppendValue(reply, a.type, outcome.result, exporter);
        std::size_t k = 0;
        for (const auto& a : member.args)
            if (a.dir == ArgDir::Out)
                AppendValue(reply, a.type, outcome.outs[k++], exporter);
        reply.send();
    } catch (const BusValueError& e) {
        call.createErrorReply(ErrorFromHResult(e.hr, nullptr)).send();
    } catch (const sdbus::Error& e) {
        call.createErrorReply(e).send();
    }
}

InvokeOutcome BusServer::CallNow(const std::string& path, const std::string& sender, const DispMember& member,
                                 std::vector<Variant> in)
{
    return InvokeMember(HeldBy(path, sender).object.get(), member, std::move(in));
}

void BusServer::Drop(const std::string& path, const std::string& holder)
{
    auto it = exports_.find(path);
    if (it == exports_.end())
        return;
    if (!holder.empty())
        Unhold(it->second, holder);
    if (!it->second.holders.empty())
        return;
    Export e = std::move(it->second);
    exports_.erase(it);
    pathOf_.erase(e.identity);
    --gExported;
    e.bus.reset();
    e.object.reset();
}

void BusServer::ClientGone(const std::string& name)
{
    // Remembered only while calls of that client are still running, so
    // their results are not handed to nobody.
    for (const auto& [id, call] : pending_)
        if (call.getSender() == name) {
            departed_.insert(name);
            break;
        }
    std::vector<std::string> held;
    for (auto& [path, e] : exports_)
        if (e.holders.count(name))
            held.push_back(path);
    if (!held.empty())
        Later([this, held, name] {
            for (const auto& path : held)
                Drop(path, name);
        });
}

struct ServerState {
    std::mutex mu;
    std::unique_ptr<BusServer> server;
    DWORD nextCookie = 1;
};

ServerState& TheState()
{
    static ServerState* s = new ServerState();  // never destroyed: revocation ends the server
    return *s;
}

}  // namespace
}  // namespace velmo::detail

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD, DWORD* cookie)
{
    using namespace velmo::detail;
    if (!factory || !cookie)
        return E_POINTER;
    *cookie = 0;
    if (!(context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)))
        return E_INVALIDARG;
    ServerState& s = TheState();
    std::lock_guard lock(s.mu);
    if (!s.server) {
        try {
            auto server = std::make_unique<BusServer>(GetCurrentThreadId());
            AttachLoopSource(server->Thread(), server.get());
            s.server = std::move(server);
        } catch (const sdbus::Error& e) {
            // The caller decides whether to report it; the text is in the error information.
            (void)velmo::ReportError(u"org.norvane.Velmo", velmo::Utf8ToUtf16(e.what()).c_str());
            return CO_E_SERVER_EXEC_FAILURE;
        }
    }
    DWORD id = s.nextCookie++;
    s.server->AddClass(ClassEntry{id, clsid, velmo::ComPtr<IUnknown>(factory)});
    *cookie = id;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie)
{
    using namespace velmo::detail;
    ServerState& s = TheState();
    std::unique_ptr<BusServer> ended;
    {
        std::lock_guard lock(s.mu);
        if (!s.server || !s.server->RemoveClass(cookie))
            return CO_E_OBJNOTREG;
        if (s.server->Empty()) {
            DetachLoopSource(s.server->Thread(), s.server.get());
            ended = std::move(s.server);
        }
    }
    ended.reset();  // outside the lock: releasing objects may run their code
    return S_OK;
}

std::size_t velmo::BusExportedObjects() { return velmo::detail::gExported.load(); }

bool velmo::StartedByBus()
{
    const char* type = std::getenv("DBUS_STARTER_BUS_TYPE");
    return type && *type;
}
