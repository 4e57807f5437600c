// The registrar: applies a module's registration script to the registry.
//
// A script names keys in nested braces under a hive (HKCR, HKLM or their
// long names):
//
//   HKCR {
//     NoRemove CLSID {
//       ForceRemove {CLSID-TEXT} = s 'Description' {
//         InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
//       }
//     }
//   }
//
// "= s 'text'" sets the key's default value; "val Name = s 'text'" a named
// value (types s: string, d: number, b: hexadecimal bytes). Quoted names and
// texts double a quote to contain one; %NAME% is replaced by a replacement
// added with AddReplacement (%% is a percent sign).
//
// Registering creates every key and value; a ForceRemove key is deleted
// with everything under it first; a Delete key is deleted. Unregistering
// deletes a ForceRemove key with everything under it; a plain key loses the
// named values the script gives and is deleted once it has no subkeys left;
// a NoRemove key is never deleted, but what the script lists inside it is.
// Either direction is one atomic change of the registry file. A script
// that does not parse changes nothing and gives E_INVALIDARG.
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmo {

class VELMO_PLATFORM_API Registrar {
public:
    void AddReplacement(std::u16string_view name, std::u16string_view value);
    HRESULT StringRegister(std::u16string_view script) const;
    HRESULT StringUnregister(std::u16string_view script) const;
    // Parses only; the reason of a failure goes to error.
    bool Check(std::u16string_view script, std::string* error) const;

private:
    HRESULT Apply(std::u16string_view script, bool doRegister) const;
    std::vector<std::pair<std::u16string, std::u16string>> replacements_;
};

}  // namespace velmo
