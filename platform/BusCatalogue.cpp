#include "platform/Automation.h"
#include "platform/BusValue.h"
#include "platform/Text.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace velmo {

namespace {
struct Catalogue {
    std::mutex mu;
    std::vector<const DispInterface*> interfaces;
};
Catalogue& TheCatalogue()
{
    static Catalogue c;
    return c;
}
}  // namespace

void RegisterBusInterfaces(std::span<const DispInterface* const> interfaces)
{
    Catalogue& c = TheCatalogue();
    std::lock_guard lock(c.mu);
    for (const DispInterface* iface : interfaces)
        if (std::find(c.interfaces.begin(), c.interfaces.end(), iface) == c.interfaces.end())
            c.interfaces.push_back(iface);
}

namespace detail {

const DispInterface* FindBusInterface(std::string_view busName)
{
    Catalogue& c = TheCatalogue();
    std::lock_guard lock(c.mu);
    for (const DispInterface* iface : c.interfaces)
        if (Utf16ToUtf8(iface->busName) == busName)
            return iface;
    return nullptr;
}

const DispInterface* BusInterfaceOf(IUnknown* object)
{
    std::vector<const DispInterface*> all;
    {
        Catalogue& c = TheCatalogue();
        std::lock_guard lock(c.mu);
        all = c.interfaces;
    }
    for (const DispInterface* iface : all) {
        void* p = nullptr;
        if (SUCCEEDED(object->QueryInterface(iface->iid, &p)) && p) {
            static_cast<IUnknown*>(p)->Release();
            return iface;
        }
    }
    return nullptr;
}

}  // namespace detail
}  // namespace velmo
