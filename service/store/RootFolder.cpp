#include "service/store/RootFolder.h"

#include "platform/Registry.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"

namespace velmo::store {

std::u16string RootFolder()
{
    auto value = ReadRegistryString(Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root");
    // An empty value has no meaning of its own: it counts as missing.
    std::u16string root = value && !value->empty() ? *value : Utf8ToUtf16(SysRootPath("var/lib/velmo"));
    if (root.back() != u'/')
        root += u'/';
    return root;
}

} // namespace velmo::store
