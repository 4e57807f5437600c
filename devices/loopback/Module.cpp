// Loopback.so: the module's entry points and registration script.
#include "devices/loopback/LoopbackDevice.h"

#include "platform/Activation.h"
#include "platform/ClassFactory.h"
#include "platform/Registrar.h"
#include "platform/Text.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Loopback.Device.1 = s 'Loopback Device' { CLSID = s '{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}' }
    Loopback.Device = s 'Loopback Device'
    {
        CLSID = s '{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'
        CurVer = s 'Loopback.Device.1'
    }
    NoRemove CLSID
    {
        ForceRemove {A12F36AA-5B02-4D44-AF51-8B3E6B864F17} = s 'Loopback Device'
        {
            ProgID = s 'Loopback.Device.1'
            VersionIndependentProgID = s 'Loopback.Device'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
        }
    }
}
)";

}  // namespace

VELMO_SINGLE_CLASS_MODULE(velmo::loopback::LoopbackDevice, CLSID_LoopbackDevice, kScript)
