// The common body of the service's automation objects: DispatchObject's
// IUnknown and IDispatch from the type library's member table, plus
// ISupportErrorInfo, the count of live objects and the object's lock.
// A derived class maps each member to its typed method in Call.
#pragma once

#include "platform/DispatchObject.h"
#include "platform/ErrorInfo.h"

#include <atomic>
#include <mutex>

namespace velmo::automation {

// Live automation objects of the process, for tests and the service's own
// bookkeeping.
std::atomic<long>& LiveObjects();

template <class Dual, class... Others>
class DualObject : public DispatchObject<Dual, ISupportErrorInfo, Others...> {
public:
    explicit DualObject(const DispInterface& iface) : DispatchObject<Dual, ISupportErrorInfo, Others...>(iface)
    {
        ++LiveObjects();
    }
    ~DualObject() override { --LiveObjects(); }

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return riid == this->Table().Interface().iid ? S_OK : S_FALSE;
    }

protected:
    std::mutex lock_;
};

// Hands out an object a call made: into result when the call succeeded
// and a result is wanted, else it is released. Returns hr.
HRESULT ReturnObject(HRESULT hr, IDispatch* object, VARIANT* result);

// The out-argument slot a caller gave (a by-reference VARIANT), or null
// when the argument was omitted.
VARIANT* OutSlot(Variant& arg);

}  // namespace velmo::automation
