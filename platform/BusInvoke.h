// One member of an automation object called through its IDispatch, as the
// bus server does for a client's call. Internal to the platform library.
// Runs on any thread; the error of a failed call is read on that thread,
// where the object left its error information.
#pragma once

#include "platform/BusValue.h"

#include <optional>
#include <vector>

namespace velmo::detail {

struct InvokeOutcome {
    HRESULT hr = S_OK;
    Variant result;                     // a propget's value or the retval
    std::vector<Variant> outs;          // the out-arguments, in declared order
    std::optional<sdbus::Error> error;  // set when the call failed
};

// in: the in-arguments in declared order (for a put, the one new value).
// Every out-argument is passed, so each comes back (VT_EMPTY if untouched).
InvokeOutcome InvokeMember(IDispatch* object, const DispMember& member, std::vector<Variant> in);

}  // namespace velmo::detail
