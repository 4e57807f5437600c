// The registry's content in memory, and its text file form.
//
// A tree of keys per hive (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT); each key
// has named values of a type and raw data. Key and value names compare
// without regard to case and keep the case they were created with. The file
// form is the registry-export format administrators know:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Norvane\Velmo]
//   "root"="/var/lib/velmo/"
//   @="NewSMS Class"
//   "TypesSupported"=dword:00000007
//
// written in UTF-8. Strings escape "\" and '"' with a backslash; data that
// is not a clean string is written as hex(N): bytes so nothing is lost.
// Parse never guesses: a malformed file is refused as a whole.
#pragma once

#include "platform/Types.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

namespace velmo {

enum class Hive { LocalMachine, ClassesRoot };

struct RegValue {
    std::u16string name;  // empty: the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class VELMO_PLATFORM_API RegKey {
public:
    explicit RegKey(std::u16string name = {}) : name_(std::move(name)) {}

    const std::u16string& Name() const { return name_; }
    RegKey* Child(std::u16string_view name);
    const RegKey* Child(std::u16string_view name) const;
    // Existing or new child; the name keeps the case of its first creation.
    RegKey& CreateChild(std::u16string_view name);
    bool RemoveChild(std::u16string_view name);
    bool HasChildren() const { return !children_.empty(); }
    std::vector<const RegKey*> Children() const;

    const RegValue* Value(std::u16string_view name) const;
    void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
    bool RemoveValue(std::u16string_view name);
    const std::vector<RegValue>& Values() const { return values_; }
    void Clear();

    // A REG_SZ value's text, up to its first zero character.
    std::optional<std::u16string> String(std::u16string_view name) const;
    void SetString(std::u16string_view name, std::u16string_view text);

private:
    std::u16string name_;
    std::vector<RegValue> values_;
    std::map<std::u16string, std::unique_ptr<RegKey>> children_;  // by folded name
};

class VELMO_PLATFORM_API RegistryTree {
public:
    RegKey& Root(Hive h) { return h == Hive::LocalMachine ? hklm_ : hkcr_; }
    const RegKey& Root(Hive h) const { return h == Hive::LocalMachine ? hklm_ : hkcr_; }

    // Path components separated by backslashes; empty components are skipped.
    RegKey* Find(Hive h, std::u16string_view path);
    const RegKey* Find(Hive h, std::u16string_view path) const;
    RegKey& Create(Hive h, std::u16string_view path);
    // Removes the key with everything under it; false when it did not exist.
    bool RemoveTree(Hive h, std::u16string_view path);

    // nullopt and a reason (with its line number) for a malformed text.
    static std::optional<RegistryTree> Parse(std::string_view text, std::string* error);
    std::string Serialize() const;

private:
    RegKey hklm_{u"HKEY_LOCAL_MACHINE"};
    RegKey hkcr_{u"HKEY_CLASSES_ROOT"};
};

VELMO_PLATFORM_API std::vector<std::u16string> SplitKeyPath(std::u16string_view path);
VELMO_PLATFORM_API std::vector<BYTE> StringData(std::u16string_view text);

}  // namespace velmo
