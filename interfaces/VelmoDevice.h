// The device contract between the service (or the test tool) and a device
// component.
//
// The device implements IVelmoDevice and IPersistXMLParam; the host
// implements IVelmo_Q and hands it to Run. Slot order and argument types are
// the binary contract: do not reorder. Strings passed in stay the caller's;
// strings returned through out-parameters are new and the receiver frees
// them.
#pragma once

#include "platform/Bstr.h"
#include "platform/SystemTime.h"
#include "platform/Unknown.h"

inline constexpr IID IID_IVelmoDevice = velmo::MakeGuid("{D3450BA1-365F-4688-8ECE-64BF188CA36C}");
inline constexpr IID IID_IPersistXMLParam = velmo::MakeGuid("{1A3660EB-8835-4A86-BDF8-039272CCC1DD}");
inline constexpr IID IID_IVelmo_Q = velmo::MakeGuid("{985D14E8-E15F-43BE-BB98-121C8542AAFB}");
inline constexpr IID IID_IVelmo_Q2 = velmo::MakeGuid("{5B824718-144F-4C58-9873-420D387E663D}");
inline constexpr IID IID_IVelmo_Q3 = velmo::MakeGuid("{0C6E3B2A-7D41-4F8E-9A15-B3E2D4C6F871}");
inline constexpr IID IID_IVelmoDeviceCheck = velmo::MakeGuid("{4F7A2C1E-8B3D-4E65-A9F0-6C2B7D8E1A35}");

// Why WaitForMsg returned.
constexpr LONG WAKE_NONE = 0;
constexpr LONG WAKE_MESSAGE = 1;
constexpr LONG WAKE_EVENT = 2;

// The outcome a device reports for one message.
constexpr LONG SEND_FAILED = 0;
constexpr LONG SEND_RETRY = 1;
constexpr LONG SEND_OK = 2;

struct IVelmo_Q : IUnknown {
    // Blocks, without a time limit, until the host stops the device, a
    // message is queued for it, or hEvent (the device's own, may be null)
    // is signalled, taken in that order when several are. *reason is
    // WAKE_NONE before the wait. Stop, a failed wait or a queue found empty:
    // E_FAIL with WAKE_NONE; the device must then leave Run. A message:
    // S_OK, WAKE_MESSAGE, its id in *msgId and new strings in *to and *body
    // that the device frees (those pointers may be null: nothing is
    // written there). hEvent: S_OK and WAKE_EVENT, nothing else written.
    // E_POINTER when reason is null.
    virtual HRESULT WaitForMsg(HANDLE hEvent, LONG* reason, GUID* msgId, BSTR* to, BSTR* body) = 0;
    // The outcome of one message WaitForMsg handed out, exactly once:
    // result is SEND_OK, SEND_RETRY or SEND_FAILED (any other value fails
    // the message), statusText (may be null) is appended to the message's
    // status text, reserved is 0. S_OK always, also for an id the host does
    // not hold; what the host could not record it logs itself.
    virtual HRESULT ReportMsgResult(GUID msgId, LONG reserved, LONG result, BSTR statusText) = 0;
    // A received message from the sender from (may be null) with the text
    // body; reserved is 0. S_OK once it is stored durably; the failure of
    // saving it otherwise (logged by the host), and the device then keeps
    // its own copy. E_NOTIMPL from a host that takes no received messages
    // at all (the test tool): the device leaves them where they are.
    virtual HRESULT ReportIncomingMsg(LONG reserved, BSTR from, BSTR body) = 0;

protected:
    ~IVelmo_Q() = default;
};

// The host's further offer beside IVelmo_Q, found with QueryInterface on
// the queue a device is handed (a host without it answers E_NOTIMPL; the
// device then uses ReportIncomingMsg).
struct IVelmo_Q2 : IVelmo_Q {
    // A received message with a status text of its own, for a message the
    // device could only partly read (a PDU that does not decode, parts
    // missing): stored like ReportIncomingMsg's, with statusText (may be
    // null) as its status text. S_OK once the message is stored durably;
    // the failure of saving it otherwise, and the device then keeps its copy.
    virtual HRESULT ReportIncomingMsgEx(BSTR from, BSTR body, BSTR statusText) = 0;

protected:
    ~IVelmo_Q2() = default;
};

// What the network's report says of a message (IVelmo_Q3).
constexpr LONG DELIVERY_PENDING = 0;  // the network still tries: nothing final yet
constexpr LONG DELIVERY_DONE = 1;     // every part reached the phone
constexpr LONG DELIVERY_FAILED = 2;   // a part never will

// The host's offer for devices that learn what became of a message after
// they sent it (a GSM network's status reports), found with QueryInterface
// like IVelmo_Q2 (a host without it answers E_NOTIMPL: the device then
// keeps no reports).
struct IVelmo_Q3 : IVelmo_Q2 {
    // The report on a message the device sent, in this run or an earlier
    // one: state is a DELIVERY_ value; statusText (may be null) is appended
    // to the message's status text; accepted (when the network took the
    // message) and discharged (when it delivered it, or last tried) are UTC
    // and may be null. S_OK once recorded durably (for DELIVERY_PENDING:
    // the status text). S_FALSE when the host holds no sent message of that
    // id, or one whose delivery is final already: nothing is recorded, and
    // the device forgets the report. E_PENDING while the message is queued
    // again for another attempt (a later part was refused), and any other
    // failure when it could not be recorded now: the device offers it
    // again later. E_INVALIDARG for a state that is no DELIVERY_ value.
    virtual HRESULT ReportDelivery(GUID msgId, LONG state, BSTR statusText, const SYSTEMTIME* accepted,
                                   const SYSTEMTIME* discharged) = 0;

protected:
    ~IVelmo_Q3() = default;
};

struct IVelmoDevice : IUnknown {
    // Opens the hardware or connection; name is the device's name in
    // config.xml (for the device's own messages). Called once, after Load.
    // S_OK when the device can run; any failure ends this run of the device
    // (the host restarts it), with error information saying why when the
    // device supports ISupportErrorInfo.
    virtual HRESULT Open(BSTR name) = 0;
    // Releases what Open took; called once after Run returned, only when
    // Open succeeded. Its result is not looked at.
    virtual HRESULT Close() = 0;
    // The device's loop: it returns when WaitForMsg fails (S_OK) or when the
    // device cannot go on (a failure with error information). queue is used
    // only during the call; E_POINTER when it is null.
    virtual HRESULT Run(IVelmo_Q* queue) = 0;

protected:
    ~IVelmoDevice() = default;
};

struct IPersistXMLParam : IPersist {
    // The device's parameters from xml, the device's whole entry element of
    // config.xml. S_OK when the device can be opened with them; a failure
    // (for text that is not XML, or parameters that are missing) ends this
    // run of the device.
    virtual HRESULT Load(BSTR xml) = 0;
    // Never called; E_NOTIMPL.
    virtual HRESULT Reserved(void* unused) = 0;

protected:
    ~IPersistXMLParam() = default;
};

// Optional beside IPersistXMLParam: the device's own check of its
// parameters, without opening anything (velmosvc /CHECK asks it; a device
// without it is checked with Load alone).
struct IVelmoDeviceCheck : IUnknown {
    // Checks xml (what Load takes). S_OK when the device would load with
    // it, S_FALSE when it would not. *report: a new string the caller
    // frees, one line (LF) per finding, each beginning "problem: " (it
    // keeps the device from loading) or "warning: " (it loads, but perhaps
    // not as meant); null when there is none. E_POINTER when report is null.
    virtual HRESULT CheckParams(BSTR xml, BSTR* report) = 0;

protected:
    ~IVelmoDeviceCheck() = default;
};

VELMO_INTERFACE_ID(IVelmo_Q, IID_IVelmo_Q);
VELMO_INTERFACE_ID(IVelmoDeviceCheck, IID_IVelmoDeviceCheck);
VELMO_INTERFACE_ID(IVelmo_Q2, IID_IVelmo_Q2);
VELMO_INTERFACE_ID(IVelmo_Q3, IID_IVelmo_Q3);
VELMO_INTERFACE_ID(IVelmoDevice, IID_IVelmoDevice);
VELMO_INTERFACE_ID(IPersistXMLParam, IID_IPersistXMLParam);
