// Automation values on the bus, for both ends of the automation bus.
// Internal to the platform library.
//
// A member's declared type picks the bus type (BusType): strings, 32-bit
// integers, booleans and doubles go as themselves, objects as object paths,
// VT_VARIANT as a bus variant. Inside a bus variant VT_EMPTY (and VT_NULL
// and an omitted argument) is an empty byte array, VT_BSTR "s", integers
// "i", VT_BOOL "b" and VT_DATE and VT_R8 "d". Reading a bus variant gives
// VT_EMPTY for any byte array, VT_DATE for "d", VT_I4 for any integer that
// fits. A value that cannot be carried throws BusValueError.
//
// A failed HRESULT crosses as a D-Bus error: DISP_E_EXCEPTION as
// org.norvane.Velmo.Error.Exception carrying the description, any other as
// org.norvane.Velmo.Error.HResult carrying "0x%08X".
#pragma once

#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmo::detail {

inline constexpr const char* kBusName = "org.norvane.Velmo";
inline constexpr const char* kActivatorPath = "/org/norvane/Velmo";
inline constexpr const char* kActivatorInterface = "org.norvane.Velmo.Activator";
inline constexpr const char* kObjectInterface = "org.norvane.Velmo.Object";
inline constexpr const char* kObjectPathPrefix = "/org/norvane/Velmo/objects/";
inline constexpr const char* kExceptionError = "org.norvane.Velmo.Error.Exception";
inline constexpr const char* kHResultError = "org.norvane.Velmo.Error.HResult";

struct BusValueError : std::runtime_error {
    BusValueError(HRESULT code, const std::string& what) : std::runtime_error(what), hr(code) {}
    HRESULT hr;
};

// Turns an object result into its path (server) or a path into an object
// (client).
using ExportObject = std::function<std::string(IDispatch* object)>;
using ImportObject = std::function<Variant(const std::string& path)>;

// The input and output signatures of a method: in-arguments in order; the
// retval, then the out-arguments.
std::string InputSignature(const DispMember& member);
std::string OutputSignature(const DispMember& member);

sdbus::Variant ToBusVariant(const VARIANT& value);
Variant FromBusVariant(const sdbus::Variant& value);

// Appends value as the declared type; by-reference values are followed.
void AppendValue(sdbus::Message& msg, VARTYPE declared, const VARIANT& value, const ExportObject& exportObject);
Variant ReadValue(sdbus::Message& msg, VARTYPE declared, const ImportObject& importObject);

// The D-Bus error of a failed call; excepInfo may be null.
sdbus::Error ErrorFromHResult(HRESULT hr, const EXCEPINFO* excepInfo);
// The HRESULT a D-Bus error stands for. An Exception sets the thread's
// error information; an error from the bus itself (no such service, no
// reply, ...) sets it too, with the bus's message, and gives fallback.
HRESULT HResultFromError(const sdbus::Error& error, HRESULT fallback);

// The catalogue of interfaces RegisterBusInterfaces was given.
const DispInterface* FindBusInterface(std::string_view busName);
// The first catalogued interface the object answers QueryInterface for.
const DispInterface* BusInterfaceOf(IUnknown* object);

}  // namespace velmo::detail
