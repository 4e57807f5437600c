// What a device knows of its radio and its hardware, for people: optional
// interfaces a device may offer beside IVelmoDevice (QueryInterface on the
// device).
//
// The service may ask it from any thread while the device runs, so an
// implementation answers from state it keeps under its own lock and never
// talks to its hardware in the call. Values follow 3GPP TS 27.007.
#pragma once

#include "platform/Bstr.h"
#include "platform/Unknown.h"

inline constexpr IID IID_IVelmoDeviceState = velmo::MakeGuid("{D283A640-554F-4149-9E76-89134B27007E}");
inline constexpr IID IID_IVelmoDeviceInfo = velmo::MakeGuid("{9E1C4B52-6A0D-4F3B-8C7E-2D5A1F6B3C90}");

// The registration values of +CREG, and "not known yet".
constexpr LONG REGISTRATION_UNKNOWN = -1;
constexpr LONG REGISTRATION_NONE = 0;
constexpr LONG REGISTRATION_HOME = 1;
constexpr LONG REGISTRATION_SEARCHING = 2;
constexpr LONG REGISTRATION_DENIED = 3;
constexpr LONG REGISTRATION_ROAMING = 5;
// The signal value of +CSQ when it is not known.
constexpr LONG SIGNAL_UNKNOWN = 99;

struct IVelmoDeviceState : IUnknown {
    // signal: received signal strength on the +CSQ scale, 0 (-113 dBm or
    // less) to 31 (-51 dBm or more) in steps of 2 dB, SIGNAL_UNKNOWN when
    // not known. registration: a REGISTRATION_ value (or another +CREG
    // status). operatorName: a new string the caller frees, null when not
    // known. Every out-pointer must be valid: E_POINTER otherwise, with
    // nothing written. S_OK otherwise, also before the first reading (the
    // values then say unknown).
    virtual HRESULT GetModemState(LONG* signal, LONG* registration, BSTR* operatorName) = 0;

protected:
    ~IVelmoDeviceState() = default;
};

// What a device knows of its hardware, for people: a further optional
// interface, asked like IVelmoDeviceState (any thread, from state the
// device keeps; never the hardware in the call).
struct IVelmoDeviceInfo : IUnknown {
    // *info: a new string the caller frees, one "name=value" line (LF) per
    // thing known, names of lower-case letters and digits; a device tells
    // what it has of: manufacturer, model, revision, imei, imsi, smsc (the
    // service centre it sends through), storages (where it reads received
    // messages, "SM,ME"), notification (the AT+CNMI setting in use, or
    // "none" when it lists its storage), port (the line it is on). Null when
    // nothing is known. E_POINTER when info is null.
    virtual HRESULT GetModemInfo(BSTR* info) = 0;

protected:
    ~IVelmoDeviceInfo() = default;
};

VELMO_INTERFACE_ID(IVelmoDeviceState, IID_IVelmoDeviceState);
VELMO_INTERFACE_ID(IVelmoDeviceInfo, IID_IVelmoDeviceInfo);
