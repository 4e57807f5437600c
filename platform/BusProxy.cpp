// The client end of the automation bus: IDispatch proxies for objects that
// live in the service. A proxy's calls go through its interface's member
// table (DispatchTable does the argument handling of Invoke) and then
// across the bus; objects that come back become proxies on the same
// connection. The connection is shared by every proxy made from one
// CoCreateInstanceEx and used by one call at a time. The last Release of a
// proxy releases the service's object.
#include "platform/Automation.h"

#include "platform/Activation.h"
#include "platform/BusConnection.h"
#include "platform/BusValue.h"
#include "platform/DispatchObject.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <memory>
#include <mutex>

namespace velmo::detail {

namespace {

constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

struct ProxyConnection {
    std::recursive_mutex mu;  // a proxy may be released during a call
    std::unique_ptr<sdbus::IConnection> conn;

    std::unique_ptr<sdbus::IProxy> Object(const std::string& path) { return sdbus::createProxy(*conn, kBusName, path); }
};

// The catalogued interface an object's introspection names.
const DispInterface* IntrospectInterface(ProxyConnection& client, const std::string& path)
{
    auto proxy = client.Object(path);
    auto call = proxy->createMethodCall("org.freedesktop.DBus.Introspectable", "Introspect");
    auto reply = proxy->callMethod(call);
    std::string xml;
    reply >> xml;
    const std::string tag = "<interface name=\"";
    for (std::size_t at = xml.find(tag); at != std::string::npos; at = xml.find(tag, at + 1)) {
        std::size_t start = at + tag.size();
        std::size_t end = xml.find('"', start);
        if (end == std::string::npos)
            break;
        if (const DispInterface* iface = FindBusInterface(std::string_view(xml).substr(start, end - start)))
            return iface;
    }
    throw sdbus::Error("org.freedesktop.DBus.Error.UnknownInterface",
                       "the object at " + path + " speaks no interface this program knows");
}

class BusProxy final : public DispatchObject<IDispatch> {
public:
    BusProxy(std::shared_ptr<ProxyConnection> client, std::string path, const DispInterface& iface)
        : DispatchObject(iface), client_(std::move(client)), path_(std::move(path)),
          busName_(Utf16ToUtf8(iface.busName))
    {}
    ~BusProxy() override
    {
        std::lock_guard lock(client_->mu);
        try {
            auto proxy = client_->Object(path_);
            auto call = proxy->createMethodCall(kObjectInterface, "Release");
            proxy->callMethod(call);
        } catch (const sdbus::Error&) {
            // The service or the connection is gone, and the object with it.
        }
    }

private:
    HRESULT Call(const DispMember& m, std::span<Variant> args, VARIANT* result) override;
    Variant Import(const std::string& path);

    std::shared_ptr<ProxyConnection> client_;
    std::string path_;
    std::string busName_;
};

Variant BusProxy::Import(const std::string& path)
{
    const DispInterface* iface = IntrospectInterface(*client_, path);
    auto* proxy = new BusProxy(client_, path, *iface);
    Variant v = Variant::FromDispatch(proxy);
    proxy->Release();
    return v;
}

HRESULT BusProxy::Call(const DispMember& m, std::span<Variant> args, VARIANT* result)
{
    std::lock_guard lock(client_->mu);
    try {
        auto proxy = client_->Object(path_);
        std::string name = Utf16ToUtf8(m.name);
        if (m.kind == DISPATCH_PROPERTYGET) {
            auto call = proxy->createMethodCall(kProperties, "Get");
            call << busName_ << name;
            auto reply = proxy->callMethod(call);
            sdbus::Variant value;
            reply >> value;
            if (result)
                FromBusVariant(value).Detach(result);
            return S_OK;
        }
        if (m.kind == DISPATCH_PROPERTYPUT) {
            auto call = proxy->createMethodCall(kProperties, "Set");
            call << busName_ << name << ToBusVariant(args[0]);
            proxy->callMethod(call);
            return S_OK;
        }
        auto call = proxy->createMethodCall(busName_, name);
        for (std::size_t i = 0; i < m.args.size(); ++i)
            if (m.args[i].dir == ArgDir::In)
                AppendValue(call, m.args[i].type, args[i], nullptr);
        auto reply = proxy->callMethod(call);
        auto importer = [this](const std::string& path) { return Import(path); };
        for (const auto& a : m.args)
            if (a.dir == ArgDir::Retval) {
                Variant v = ReadValue(reply, a.type, importer);
                if (result)
                    v.Detach(result);
            }
        for (std::size_t i = 0; i < m.args.size(); ++i) {
            if (m.args[i].dir != ArgDir::Out)
                continue;
            Variant v = ReadValue(reply, m.args[i].type, importer);
            if (args[i].vt == (VT_BYREF | VT_VARIANT) && args[i].pvarVal) {
                VariantClear(args[i].pvarVal);
                v.Detach(args[i].pvarVal);
            }
        }
        return S_OK;
    } catch (const BusValueError& e) {
        return e.hr;
    } catch (const sdbus::Error& e) {
        return HResultFromError(e, DISP_E_EXCEPTION);
    }
}

}  // namespace
}  // namespace velmo::detail

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* serverInfo, DWORD count,
                           MULTI_QI* results)
{
    using namespace velmo::detail;
    if (!results || count == 0)
        return E_INVALIDARG;
    for (DWORD i = 0; i < count; ++i) {
        results[i].pItf = nullptr;
        results[i].hr = E_NOINTERFACE;
    }
    if (outer)
        return CLASS_E_NOAGGREGATION;
    velmo::ComPtr<IUnknown> object;
    bool remote = serverInfo && serverInfo->pwszName && *serverInfo->pwszName;
    if ((context & CLSCTX_INPROC_SERVER) && !remote) {
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.ReceiveVoid());
        if (FAILED(hr) && (hr != REGDB_E_CLASSNOTREG || !(context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER))))
            return hr;
    }
    if (!object) {
        if (!(context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)))
            return REGDB_E_CLASSNOTREG;
        std::string host = remote                             ? velmo::Utf16ToUtf8(serverInfo->pwszName)
                           : (context & CLSCTX_REMOTE_SERVER) ? RemoteServerOf(clsid)
                                                              : std::string();
        auto client = std::make_shared<ProxyConnection>();
        try {
            client->conn = OpenBus(BusRole::Client, host);
            auto activator = client->Object(kActivatorPath);
            auto call = activator->createMethodCall(kActivatorInterface, "CreateInstance");
            call << velmo::GuidToUtf8(clsid);
            auto reply = activator->callMethod(call);
            sdbus::ObjectPath path;
            reply >> path;
            const velmo::DispInterface* iface = IntrospectInterface(*client, path);
            object = velmo::ComPtr<IUnknown>::Attach(new BusProxy(client, path, *iface));
        } catch (const sdbus::Error& e) {
            return HResultFromError(e, CO_E_SERVER_EXEC_FAILURE);
        }
    }
    HRESULT overall = S_OK;
    DWORD got = 0;
    for (DWORD i = 0; i < count; ++i) {
        results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
        if (SUCCEEDED(results[i].hr))
            ++got;
    }
    if (got == 0)
        overall = E_NOINTERFACE;
    else if (got < count)
        overall = CO_S_NOTALLINTERFACES;
    return overall;
}
