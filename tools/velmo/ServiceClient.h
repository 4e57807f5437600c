// The command line's side of the automation bus: an automation object of
// the service, created on this machine's bus or on another host's over
// SSH, and calls on it by member name. Failures come back as the text a
// person should read (the error description, or the code when there is
// none).
#pragma once

#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <string>
#include <vector>

namespace velmo::cli {

class ServiceObject {
public:
    // host: "" for this machine, else [USER@]HOST.
    ServiceObject(const CLSID& clsid, const std::string& host);
    ServiceObject(const ServiceObject&) = delete;
    ServiceObject& operator=(const ServiceObject&) = delete;
    ~ServiceObject();

    bool ok() const { return object_ != nullptr; }
    const std::string& error() const { return error_; }
    // A method call with positional arguments in declared order (pass
    // by-reference VARIANTs for out-arguments). False and error() on failure.
    bool Call(const char16_t* name, std::vector<VARIANT> args, VARIANT* result);

private:
    IDispatch* object_ = nullptr;
    std::string error_;
};

// "--host [USER@]HOST" at the front of args is taken out into host. False
// when the option lacks its value.
bool TakeHostOption(std::vector<std::string>& args, std::string& host);

}  // namespace velmo::cli
