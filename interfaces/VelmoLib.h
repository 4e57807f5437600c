// The type library VelmoLib: the automation classes NewSMS and
// MessageCenter, their dual interfaces IVelmo and IMessageCenter, and the
// enumerations clients see.
//
// The member tables below are the one description of both interfaces: the
// objects' IDispatch, the automation bus and the introspection XML are all
// driven by them. DISPIDs, IIDs and names are part of the contract with
// clients and scripts: do not change them.
#pragma once

#include "platform/Dispatch.h"
#include "platform/TypeLib.h"

inline constexpr GUID LIBID_VelmoLib = velmo::MakeGuid("{3589C97E-0D5E-4B9A-B1C4-FCB5E239A144}");
inline constexpr IID IID_IVelmo = velmo::MakeGuid("{0FB302C0-8866-4693-B0D5-F668AE9F90A9}");
inline constexpr IID IID_IMessageCenter = velmo::MakeGuid("{14D1BEC2-612A-41EC-AA1A-FB6FAA78274B}");
inline constexpr CLSID CLSID_NewSMS = velmo::MakeGuid("{C7F74FB8-7146-4AE5-9D83-37751212E0A1}");
inline constexpr CLSID CLSID_MessageCenter = velmo::MakeGuid("{B0463299-53D5-4317-9EA1-93E0F15CD05C}");
inline constexpr GUID APPID_Velmo = velmo::MakeGuid("{B14EB58C-00EE-4C08-AE67-DCD6045DDB44}");

// The texts as the registry entries write them.
inline constexpr const char16_t* kAppIdText = u"{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}";
inline constexpr const char16_t* kNewSmsClsidText = u"{C7F74FB8-7146-4ae5-9D83-37751212E0A1}";
inline constexpr const char16_t* kMessageCenterClsidText = u"{B0463299-53D5-4317-9EA1-93E0F15CD05C}";
inline constexpr const char16_t* kVelmoLibText = u"{3589C97E-0D5E-4b9a-B1C4-FCB5E239A144}";

inline constexpr const char16_t* kNewSmsProgId = u"Velmo.NewSMS";
inline constexpr const char16_t* kNewSmsProgIdVersioned = u"Velmo.NewSMS.1";
inline constexpr const char16_t* kNewSmsDescription = u"NewSMS Class";
inline constexpr const char16_t* kMessageCenterProgId = u"Velmo.MessageCenter";
inline constexpr const char16_t* kMessageCenterProgIdVersioned = u"Velmo.MessageCenter.1";
inline constexpr const char16_t* kMessageCenterDescription = u"MessageCenter Class";
inline constexpr const char16_t* kVelmoLibHelp = u"Velmo 1.0 Type Library";

// DELIVERED and UNDELIVERED: a SENT message the network reported on.
enum MESSAGE_STATUS : LONG {
    NOT_FOUND = 0,
    QUEUED = 1,
    SENT = 2,
    FAILED = 3,
    RECEIVED = 4,
    DELIVERED = 5,
    UNDELIVERED = 6
};
enum velmoEventHandlerStatus : LONG { velmoBreak = 0, velmoContinue = 1 };

// The dual interfaces in vtable order after IDispatch. Clients on the bus
// reach them through IDispatch; code in the service may call them directly.
// Failures that a client should read carry error information (source
// "Velmo.NewSMS" or "Velmo.MessageCenter") and DISP_E_EXCEPTION; a null
// out-pointer is E_POINTER; a string that cannot be allocated E_OUTOFMEMORY.
struct IVelmo : IDispatch {
    // The recipient, sender and text: new strings (an empty string for one
    // never set; the sender only on received messages).
    virtual HRESULT get_To(BSTR* to) = 0;
    virtual HRESULT put_To(BSTR to) = 0;
    virtual HRESULT get_From(BSTR* from) = 0;
    virtual HRESULT get_Body(BSTR* body) = 0;
    virtual HRESULT put_Body(BSTR body) = 0;
    // When a received message arrived (VT_DATE, UTC); VT_EMPTY otherwise.
    virtual HRESULT get_Date(VARIANT* date) = 0;
    // Queues a new message and gives its identifier (a braced GUID as
    // VT_BSTR in *msgId, which may be null). A VT_BSTR to or body replaces
    // the field first; any other type leaves it. "Must specify To address"
    // without a recipient; "Dispatcher failed queuing message." when the
    // queue refuses it (full, stopping, or the file could not be saved
    // durably: no identifier is given then).
    virtual HRESULT Send(VARIANT to, VARIANT body, VARIANT* msgId) = 0;
    // A new message with this one's text (and, for Reply, its sender as
    // the recipient); "Cannot forward this message" / "Cannot reply to this
    // message" when this one has no sender.
    virtual HRESULT Forward(IVelmo** newSms) = 0;
    virtual HRESULT Reply(IVelmo** newSms) = 0;

protected:
    ~IVelmo() = default;
};

struct IMessageCenter : IDispatch {
    // Not offered: E_NOTIMPL.
    virtual HRESULT AddMessageMonitor(BSTR msgId) = 0;
    // The state of the outgoing message msgId (a braced GUID): *status is a
    // MESSAGE_STATUS (NOT_FOUND when no outgoing folder holds it); when
    // given, *statusText (VT_BSTR) and *date (VT_DATE, UTC: completion for
    // SENT and FAILED, creation otherwise). S_OK; the parse failure of an
    // identifier that is not a GUID.
    virtual HRESULT QueryMessageStatus(BSTR msgId, VARIANT* statusText, VARIANT* date, LONG* status) = 0;
    // A new, empty NewSMS object.
    virtual HRESULT NewMessage(IVelmo** newSms) = 0;
    // Not offered: E_NOTIMPL with *sms null.
    virtual HRESULT GetMessage(BSTR msgId, IVelmo** sms) = 0;

protected:
    ~IMessageCenter() = default;
};

// Optional beside IVelmo, in process only (not on the bus): what an event
// handler may learn of the received message it is offered.
inline constexpr IID IID_IVelmoReceived = velmo::MakeGuid("{737AC0DB-B978-4BB4-8594-D9351C0538E0}");
struct IVelmoReceived : IUnknown {
    // The id under which the received message is stored ("{...}", as
    // velmo list shows it): a new string. S_FALSE with an empty string for
    // a message that was not received; E_POINTER when id is null.
    virtual HRESULT get_Id(BSTR* id) = 0;

protected:
    ~IVelmoReceived() = default;
};

VELMO_INTERFACE_ID(IVelmo, IID_IVelmo);
VELMO_INTERFACE_ID(IMessageCenter, IID_IMessageCenter);
VELMO_INTERFACE_ID(IVelmoReceived, IID_IVelmoReceived);

namespace velmo::velmolib {

inline constexpr DispArg kSendArgs[] = {
    {u"To", VT_VARIANT, ArgDir::In, true},
    {u"Body", VT_VARIANT, ArgDir::In, true},
    {u"pMsgId", VT_VARIANT, ArgDir::Retval, false},
};
inline constexpr DispArg kNewSmsRetval[] = {{u"pNewSMS", VT_DISPATCH, ArgDir::Retval, false}};

inline constexpr DispMember kIVelmoMembers[] = {
    {u"To", 1, DISPATCH_PROPERTYGET, VT_BSTR, {}},
    {u"To", 1, DISPATCH_PROPERTYPUT, VT_BSTR, {}},
    {u"From", 2, DISPATCH_PROPERTYGET, VT_BSTR, {}},
    {u"Body", 3, DISPATCH_PROPERTYGET, VT_BSTR, {}},
    {u"Body", 3, DISPATCH_PROPERTYPUT, VT_BSTR, {}},
    {u"Date", 4, DISPATCH_PROPERTYGET, VT_VARIANT, {}},
    {u"Send", 5, DISPATCH_METHOD, VT_VARIANT, kSendArgs},
    {u"Forward", 6, DISPATCH_METHOD, VT_DISPATCH, kNewSmsRetval},
    {u"Reply", 7, DISPATCH_METHOD, VT_DISPATCH, kNewSmsRetval},
};

inline constexpr DispArg kMsgIdArg[] = {{u"MsgId", VT_BSTR, ArgDir::In, false}};
inline constexpr DispArg kQueryArgs[] = {
    {u"MsgId", VT_BSTR, ArgDir::In, false},
    {u"vtStatusText", VT_VARIANT, ArgDir::Out, true},
    {u"vtDate", VT_VARIANT, ArgDir::Out, true},
    {u"pStatus", VT_I4, ArgDir::Retval, false},
};
inline constexpr DispArg kNewMessageArgs[] = {{u"ppNewSMS", VT_DISPATCH, ArgDir::Retval, false}};
inline constexpr DispArg kGetMessageArgs[] = {
    {u"MsgId", VT_BSTR, ArgDir::In, false},
    {u"ppSMS", VT_DISPATCH, ArgDir::Retval, false},
};

inline constexpr DispMember kIMessageCenterMembers[] = {
    {u"AddMessageMonitor", 1, DISPATCH_METHOD, VT_VOID, kMsgIdArg},
    {u"QueryMessageStatus", 2, DISPATCH_METHOD, VT_I4, kQueryArgs},
    {u"NewMessage", 3, DISPATCH_METHOD, VT_DISPATCH, kNewMessageArgs},
    {u"GetMessage", 4, DISPATCH_METHOD, VT_DISPATCH, kGetMessageArgs},
};

inline constexpr DispInterface kIVelmo{u"IVelmo", u"org.norvane.Velmo.IVelmo", IID_IVelmo, u"IVelmo Interface",
                                       kIVelmoMembers};
inline constexpr DispInterface kIMessageCenter{u"IMessageCenter", u"org.norvane.Velmo.IMessageCenter",
                                               IID_IMessageCenter, u"IMessageCenter Interface", kIMessageCenterMembers};
inline constexpr const DispInterface* kInterfaces[] = {&kIVelmo, &kIMessageCenter};

inline constexpr TypeLibDescription kVelmoLib{LIBID_VelmoLib,         1, 0, u"VelmoLib", kVelmoLibHelp, kInterfaces,
                                              "org.norvane.Velmo.xml"};

}  // namespace velmo::velmolib
