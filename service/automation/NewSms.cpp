#include "service/automation/NewSms.h"

#include "messagefile/MessageRules.h"
#include "platform/Guid.h"
#include "platform/Text.h"

#include <new>

namespace velmo::automation {

namespace {

constexpr const char16_t* kSource = u"Velmo.NewSMS";

// The whole string, NULs included; empty for null.
std::u16string_view Whole(BSTR value) { return value ? std::u16string_view(value, SysStringLen(value)) : u""; }

// The rule a text set by a client breaks; empty when none.
std::u16string TextRule(BSTR body) { return Utf8ToUtf16(messagefile::TextProblem(Whole(body))); }

// The rule a recipient set by a client breaks; empty when none. Null and
// empty are taken (Send refuses them).
std::u16string RecipientRule(BSTR to)
{
    std::string why;
    if (Whole(to).empty() || messagefile::NormalRecipient(Whole(to), why))
        return {};
    return Utf8ToUtf16(why);
}

HRESULT CopyOut(const Bstr& value, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = value.IsNull() ? SysAllocString(u"") : value.Copy();
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A copy up to the first zero character; null stays null.
Bstr CopyIn(BSTR value) { return value ? Bstr(std::u16string_view(value)) : Bstr(); }

}  // namespace

std::atomic<long>& LiveObjects()
{
    static std::atomic<long> count{0};
    return count;
}

HRESULT ReturnObject(HRESULT hr, IDispatch* object, VARIANT* result)
{
    if (SUCCEEDED(hr) && result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
    } else if (object) {
        object->Release();
    }
    return hr;
}

VARIANT* OutSlot(Variant& arg)
{
    if (arg.vt == VT_ERROR || !(arg.vt & VT_BYREF) || !arg.pvarVal)
        return nullptr;
    return arg.pvarVal;
}

NewSms::NewSms(queue::MessageIntake& intake) : DualObject(velmolib::kIVelmo), intake_(intake) {}

NewSms* NewSms::ForReceived(queue::MessageIntake& intake, const GUID& id, const Bstr& from, const Bstr& body,
                            DATE received)
{
    auto* sms = new (std::nothrow) NewSms(intake);
    if (!sms)
        return nullptr;
    sms->receivedId_ = Bstr(GuidToString(id));
    sms->from_ = from;
    sms->body_ = body;
    sms->date_ = Variant::FromDate(received);
    return sms;
}

HRESULT NewSms::get_Id(BSTR* id)
{
    if (!id)
        return E_POINTER;
    std::lock_guard lock(lock_);
    HRESULT hr = CopyOut(receivedId_, id);
    return FAILED(hr) || !receivedId_.IsNull() ? hr : S_FALSE;
}

HRESULT NewSms::get_To(BSTR* to)
{
    std::lock_guard lock(lock_);
    return CopyOut(to_, to);
}

HRESULT NewSms::put_To(BSTR to)
{
    if (std::u16string rule = RecipientRule(to); !rule.empty())
        return ReportError(kSource, rule.c_str());
    std::lock_guard lock(lock_);
    to_ = CopyIn(to);
    return S_OK;
}

HRESULT NewSms::get_From(BSTR* from)
{
    std::lock_guard lock(lock_);
    return CopyOut(from_, from);
}

HRESULT NewSms::get_Body(BSTR* body)
{
    std::lock_guard lock(lock_);
    return CopyOut(body_, body);
}

HRESULT NewSms::put_Body(BSTR body)
{
    if (std::u16string rule = TextRule(body); !rule.empty())
        return ReportError(kSource, rule.c_str());
    std::lock_guard lock(lock_);
    body_ = CopyIn(body);
    return S_OK;
}

HRESULT NewSms::get_Date(VARIANT* date)
{
    if (!date)
        return E_POINTER;
    std::lock_guard lock(lock_);
    VariantInit(date);
    return VariantCopy(date, &date_);
}

HRESULT NewSms::Send(VARIANT to, VARIANT body, VARIANT* msgId)
{
    {
        std::lock_guard lock(lock_);
        // Only a string argument replaces the field; anything else leaves it.
        std::u16string rule = body.vt == VT_BSTR ? TextRule(body.bstrVal) : u"";
        if (rule.empty() && to.vt == VT_BSTR)
            rule = RecipientRule(to.bstrVal);
        if (!rule.empty())
            return ReportError(kSource, rule.c_str());
        if (to.vt == VT_BSTR)
            to_ = CopyIn(to.bstrVal);
        if (body.vt == VT_BSTR)
            body_ = CopyIn(body.bstrVal);
        if (to_.IsEmpty())
            return ReportError(kSource, u"Must specify To address");
    }

    if (msgId) {
        VariantClear(msgId);
        VariantInit(msgId);
    }
    // The fields as a client reads them, a null text as an empty one.
    Bstr recipient, text;
    HRESULT hr = get_To(recipient.Receive());
    if (SUCCEEDED(hr))
        hr = get_Body(text.Receive());
    if (FAILED(hr))
        return ReportError(kSource, u"Dispatcher failed queuing message.");
    // A reply's recipient is the sender, who may be a name, and a forward's
    // text is what was received: the rules hold for every way a field was set.
    std::string why;
    std::optional<std::u16string> normal = messagefile::CheckNewMessage(recipient.view(), text.view(), why);
    if (!normal)
        return ReportError(kSource, Utf8ToUtf16(why).c_str());
    GUID id{};
    hr = intake_.QueueMessage(Bstr(*normal), text, &id);
    if (FAILED(hr))
        return ReportError(kSource, u"Dispatcher failed queuing message.");
    if (msgId) {
        Variant idText = Variant::FromBstr(GuidToString(id));
        idText.Detach(msgId);
    }
    return hr;
}

HRESULT NewSms::Derived(bool reply, IVelmo** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    Bstr from, body;
    {
        std::lock_guard lock(lock_);
        from = from_;
        body = body_;
    }
    if (from.IsEmpty())
        return ReportError(kSource, reply ? u"Cannot reply to this message" : u"Cannot forward this message");
    auto* sms = new (std::nothrow) NewSms(intake_);
    if (!sms)
        return E_OUTOFMEMORY;
    if (reply)
        sms->to_ = from;
    sms->body_ = body;
    *out = sms;
    return S_OK;
}

HRESULT NewSms::Forward(IVelmo** newSms) { return Derived(false, newSms); }

HRESULT NewSms::Reply(IVelmo** newSms) { return Derived(true, newSms); }

HRESULT NewSms::Call(const DispMember& member, std::span<Variant> args, VARIANT* result)
{
    auto put = [&](HRESULT (NewSms::*setter)(BSTR)) { return (this->*setter)(args[0].bstrVal); };
    auto get = [&](HRESULT (NewSms::*getter)(BSTR*)) {
        BSTR value = nullptr;
        HRESULT hr = (this->*getter)(&value);
        if (SUCCEEDED(hr) && result) {
            Variant v;
            v.vt = VT_BSTR;
            v.bstrVal = value;
            v.Detach(result);
        } else {
            SysFreeString(value);
        }
        return hr;
    };
    auto derived = [&](HRESULT (NewSms::*make)(IVelmo**)) {
        IVelmo* sms = nullptr;
        HRESULT hr = (this->*make)(&sms);
        return ReturnObject(hr, sms, result);
    };
    bool isPut = member.kind == DISPATCH_PROPERTYPUT;
    switch (member.dispid) {
    case 1: return isPut ? put(&NewSms::put_To) : get(&NewSms::get_To);
    case 2: return get(&NewSms::get_From);
    case 3: return isPut ? put(&NewSms::put_Body) : get(&NewSms::get_Body);
    case 4: {
        Variant date;
        HRESULT hr = get_Date(&date);
        if (SUCCEEDED(hr) && result)
            date.Detach(result);
        return hr;
    }
    case 5: {
        Variant id;
        HRESULT hr = Send(args[0], args[1], &id);
        if (SUCCEEDED(hr) && result)
            id.Detach(result);
        return hr;
    }
    case 6: return derived(&NewSms::Forward);
    case 7: return derived(&NewSms::Reply);
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

}  // namespace velmo::automation
