// ScriptHandler.so: the module's entry points and registration script.
#include "handlers/script/ScriptHandler.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Velmo.ScriptHandler.1 = s 'ScriptHandler Class' { CLSID = s '{6433DA4B-AC98-4EBD-B221-FD5B217DA8F6}' }
    Velmo.ScriptHandler = s 'ScriptHandler Class'
    {
        CLSID = s '{6433DA4B-AC98-4EBD-B221-FD5B217DA8F6}'
        CurVer = s 'Velmo.ScriptHandler.1'
    }
    NoRemove CLSID
    {
        ForceRemove {6433DA4B-AC98-4EBD-B221-FD5B217DA8F6} = s 'ScriptHandler Class'
        {
            ProgID = s 'Velmo.ScriptHandler.1'
            VersionIndependentProgID = s 'Velmo.ScriptHandler'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
        }
    }
}
)";

}  // namespace

VELMO_SINGLE_CLASS_MODULE(velmo::scripthandler::ScriptHandler, CLSID_ScriptHandler, kScript)
