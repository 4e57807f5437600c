// Registry keys and values for tests and benchmarks, written and read
// through the platform's registry file as the system's own registration
// writes it.
#pragma once

#include "platform/Registry.h"

#include <optional>
#include <string_view>

// Creates the key (and those above it) and sets a string value; an empty
// name sets the key's default value.
inline LONG SetRegistryString(velmo::Hive hive, std::u16string_view path, std::u16string_view name,
                              std::u16string_view value)
{
    return velmo::ModifyRegistry([&](velmo::RegistryTree& tree) {
        tree.Create(hive, path).SetString(name, value);
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

inline LONG CreateRegistryKey(velmo::Hive hive, std::u16string_view path)
{
    return velmo::ModifyRegistry([&](velmo::RegistryTree& tree) {
        tree.Create(hive, path);
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

inline LONG RemoveRegistryTree(velmo::Hive hive, std::u16string_view path)
{
    return velmo::ModifyRegistry([&](velmo::RegistryTree& tree) {
        return static_cast<LONG>(tree.RemoveTree(hive, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    });
}

inline bool RegistryKeyExists(velmo::Hive hive, std::u16string_view path)
{
    bool found = false;
    (void)velmo::ReadRegistry([&](const velmo::RegistryTree& tree) { found = tree.Find(hive, path) != nullptr; });
    return found;
}

// A REG_DWORD value; nullopt when there is none or it holds another type.
inline std::optional<DWORD> ReadRegistryDword(velmo::Hive hive, std::u16string_view path, std::u16string_view name)
{
    std::optional<DWORD> value;
    (void)velmo::ReadRegistry([&](const velmo::RegistryTree& tree) {
        const velmo::RegKey* key = tree.Find(hive, path);
        const velmo::RegValue* v = key ? key->Value(name) : nullptr;
        if (v && v->type == REG_DWORD && v->data.size() == 4)
            value = DWORD(v->data[0]) | DWORD(v->data[1]) << 8 | DWORD(v->data[2]) << 16 | DWORD(v->data[3]) << 24;
    });
    return value;
}
