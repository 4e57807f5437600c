#include "platform/ErrorInfo.h"

#include "platform/Text.h"

#include <atomic>
#include <new>

namespace {

class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }

    HRESULT GetGUID(GUID* guid) override
    {
        if (!guid)
            return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* s) override { return Give(source_, s); }
    HRESULT GetDescription(BSTR* s) override { return Give(description_, s); }
    HRESULT GetHelpFile(BSTR* s) override { return Give(helpFile_, s); }
    HRESULT GetHelpContext(DWORD* c) override
    {
        if (!c)
            return E_INVALIDARG;
        *c = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override
    {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR s) override { return Take(source_, s); }
    HRESULT SetDescription(LPOLESTR s) override { return Take(description_, s); }
    HRESULT SetHelpFile(LPOLESTR s) override { return Take(helpFile_, s); }
    HRESULT SetHelpContext(DWORD c) override
    {
        helpContext_ = c;
        return S_OK;
    }

private:
    static HRESULT Give(const velmo::Bstr& from, BSTR* to)
    {
        if (!to)
            return E_INVALIDARG;
        *to = from.Copy();
        return S_OK;
    }
    static HRESULT Take(velmo::Bstr& to, LPOLESTR s)
    {
        to = velmo::Bstr(s);
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    velmo::Bstr source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// One slot per thread, released when the thread ends.
struct ThreadSlot {
    IErrorInfo* info = nullptr;
    ~ThreadSlot()
    {
        if (info)
            info->Release();
    }
};
thread_local ThreadSlot t_slot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    auto* obj = new (std::nothrow) ErrorObject();
    if (!obj) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    *out = obj;
    return S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info)
{
    if (reserved != 0)
        return E_INVALIDARG;
    if (info)
        info->AddRef();
    IErrorInfo* old = t_slot.info;
    t_slot.info = info;
    if (old)
        old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    if (!t_slot.info)
        return S_FALSE;
    *out = t_slot.info;
    t_slot.info = nullptr;
    return S_OK;
}

namespace velmo {

std::optional<Bstr> TakeErrorDescription()
{
    ComPtr<IErrorInfo> info;
    Bstr description;
    if (GetErrorInfo(0, info.Receive()) != S_OK || !info || FAILED(info->GetDescription(description.Receive())) ||
        description.IsNull())
        return std::nullopt;
    return description;
}

HRESULT ReportError(const char16_t* source, const char16_t* description)
{
    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.Receive());
    if (FAILED(hr))
        return hr;
    create->SetGUID(GUID_NULL);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    hr = create.As(info);
    if (FAILED(hr))
        return hr;
    SetErrorInfo(0, info.get());
    return DISP_E_EXCEPTION;
}

}  // namespace velmo
