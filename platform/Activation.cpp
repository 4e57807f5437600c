#include "platform/Activation.h"

#include "platform/Automation.h"

#include "platform/Bstr.h"
#include "platform/Registry.h"
#include "platform/Sync.h"
#include "platform/Text.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

thread_local int t_comInits = 0;
std::atomic<bool> g_securitySet{false};

struct ModuleTable {
    std::mutex mu;
    std::map<std::string, void*> loaded;
};

ModuleTable& Modules()
{
    static auto* t = new ModuleTable();  // modules stay loaded for the process
    return *t;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_comInits++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (t_comInits > 0)
        --t_comInits;
}

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*)
{
    return g_securitySet.exchange(true) ? RPC_E_TOO_LATE : S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    auto path = velmo::ReadRegistryString(velmo::Hive::ClassesRoot,
                                          u"CLSID\\" + velmo::GuidToString(clsid) + u"\\InprocServer32", u"");
    if (!path || path->empty())
        return REGDB_E_CLASSNOTREG;
    HMODULE module = velmo::LoadModule(velmo::Utf16ToUtf8(*path), nullptr);
    if (!module)
        return CO_E_DLLNOTFOUND;
    auto get = reinterpret_cast<PFN_DllGetClassObject>(velmo::ModuleSymbol(module, "DllGetClassObject"));
    if (!get)
        return CO_E_ERRORINDLL;
    return get(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    constexpr DWORD kOutOfProcess = CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    if (context & CLSCTX_INPROC_SERVER) {
        velmo::ComPtr<IClassFactory> factory;
        hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.ReceiveVoid());
        if (SUCCEEDED(hr))
            return factory->CreateInstance(outer, riid, ppv);
    }
    if (hr != REGDB_E_CLASSNOTREG || !(context & kOutOfProcess))
        return hr;
    // Not served in this process: ask the service over the automation bus.
    MULTI_QI qi{&riid, nullptr, S_OK};
    hr = CoCreateInstanceEx(clsid, outer, context & kOutOfProcess, nullptr, 1, &qi);
    *ppv = qi.pItf;
    return SUCCEEDED(hr) ? qi.hr : hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid)
{
    if (!progId || !clsid)
        return E_INVALIDARG;
    auto text = velmo::ReadRegistryString(velmo::Hive::ClassesRoot, std::u16string(progId) + u"\\CLSID", u"");
    auto g = text ? velmo::ParseGuid(std::u16string_view(*text)) : std::nullopt;
    if (!g)
        return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    std::string path;
    if (!module) {
        path = velmo::ProgramPath();
    } else {
        void* sym = dlsym(module, "DllGetClassObject");
        path = sym ? velmo::ModulePathOf(sym) : std::string();
    }
    if (path.empty() || !buffer || size == 0)
        return 0;
    std::u16string wide = velmo::Utf8ToUtf16(path);
    if (wide.size() + 1 > size) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(wide.size());
}

namespace velmo {

HMODULE LoadModule(const std::string& path, std::string* error)
{
    ModuleTable& t = Modules();
    std::lock_guard lock(t.mu);
    auto it = t.loaded.find(path);
    if (it != t.loaded.end())
        return it->second;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        if (error) {
            const char* e = dlerror();
            *error = e ? e : "cannot load module";
        }
        return nullptr;
    }
    t.loaded[path] = h;
    return h;
}

void* ModuleSymbol(HMODULE module, const char* name) { return module ? dlsym(module, name) : nullptr; }

std::string ModulePathOf(const void* address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

std::string ProgramPath()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace velmo
