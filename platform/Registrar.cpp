#include "platform/Registrar.h"

#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <memory>
#include <optional>

namespace velmo {
namespace {

enum class Flag { Plain, NoRemove, ForceRemove, Delete };

struct ScriptValue {
    std::u16string name;  // empty: default value
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct ScriptKey {
    Flag flag = Flag::Plain;
    std::u16string name;
    std::optional<ScriptValue> defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> children;
};

struct ScriptRoot {
    Hive hive;
    std::vector<ScriptKey> keys;
};

struct Token {
    std::u16string text;
    bool quoted = false;
};

class Parser {
public:
    Parser(std::u16string_view script, const std::vector<std::pair<std::u16string, std::u16string>>& repl) : repl_(repl)
    {
        Tokenize(script);
    }

    std::optional<std::vector<ScriptRoot>> Parse()
    {
        if (!error_.empty())
            return std::nullopt;
        std::vector<ScriptRoot> roots;
        while (pos_ < tokens_.size()) {
            const Token& t = tokens_[pos_++];
            ScriptRoot root;
            std::u16string name = FoldCase(t.text);
            if (name == u"HKCR" || name == u"HKEY_CLASSES_ROOT")
                root.hive = Hive::ClassesRoot;
            else if (name == u"HKLM" || name == u"HKEY_LOCAL_MACHINE")
                root.hive = Hive::LocalMachine;
            else
                return Fail("unknown hive '" + Utf16ToUtf8(t.text) + "'");
            if (!Expect(u"{"))
                return std::nullopt;
            if (!ParseBody(root.keys, nullptr))
                return std::nullopt;
            roots.push_back(std::move(root));
        }
        return roots;
    }

    const std::string& Error() const { return error_; }

private:
    void Tokenize(std::u16string_view s)
    {
        std::size_t i = 0;
        while (i < s.size()) {
            char16_t c = s[i];
            if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
                ++i;
                continue;
            }
            Token t;
            if (c == u'\'') {
                t.quoted = true;
                ++i;
                bool closed = false;
                while (i < s.size()) {
                    if (s[i] == u'\'') {
                        if (i + 1 < s.size() && s[i + 1] == u'\'') {
                            t.text += u'\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    t.text += s[i++];
                }
                if (!closed) {
                    error_ = "unterminated quoted text";
                    return;
                }
            } else {
                while (i < s.size() && s[i] != u' ' && s[i] != u'\t' && s[i] != u'\r' && s[i] != u'\n')
                    t.text += s[i++];
            }
            auto expanded = Expand(t.text);
            if (!expanded) {
                error_ = "unknown replacement in '" + Utf16ToUtf8(t.text) + "'";
                return;
            }
            t.text = *expanded;
            tokens_.push_back(std::move(t));
        }
    }

    std::optional<std::u16string> Expand(const std::u16string& text) const
    {
        std::u16string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != u'%') {
                out += text[i];
                continue;
            }
            std::size_t end = text.find(u'%', i + 1);
            if (end == std::u16string::npos)
                return std::nullopt;
            std::u16string name = text.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += u'%';
            } else {
                bool found = false;
                for (const auto& [k, v] : repl_)
                    if (EqualsNoCase(k, name)) {
                        out += v;
                        found = true;
                        break;
                    }
                if (!found)
                    return std::nullopt;
            }
            i = end;
        }
        return out;
    }

    std::nullopt_t Fail(const std::string& why)
    {
        if (error_.empty())
            error_ = why;
        return std::nullopt;
    }

    bool IsWord(const Token& t, std::u16string_view w) const { return !t.quoted && EqualsNoCase(t.text, w); }

    bool Expect(std::u16string_view w)
    {
        if (pos_ >= tokens_.size() || !IsWord(tokens_[pos_], w)) {
            Fail("'" + Utf16ToUtf8(w) + "' expected");
            return false;
        }
        ++pos_;
        return true;
    }

    std::optional<ScriptValue> ParseTypedValue()
    {
        if (pos_ + 1 >= tokens_.size())
            return Fail("value type and data expected");
        const Token& type = tokens_[pos_++];
        const Token& data = tokens_[pos_++];
        ScriptValue v;
        if (IsWord(type, u"s")) {
            v.type = REG_SZ;
            v.data = StringData(data.text);
        } else if (IsWord(type, u"d")) {
            std::string digits = Utf16ToUtf8(data.text);
            char* end = nullptr;
            unsigned long n = std::strtoul(digits.c_str(), &end, 0);
            if (digits.empty() || *end)
                return Fail("number expected for 'd'");
            auto u = static_cast<std::uint32_t>(n);
            v.type = REG_DWORD;
            v.data = {static_cast<BYTE>(u), static_cast<BYTE>(u >> 8), static_cast<BYTE>(u >> 16),
                      static_cast<BYTE>(u >> 24)};
        } else if (IsWord(type, u"b")) {
            if (data.text.size() % 2)
                return Fail("even number of hexadecimal digits expected for 'b'");
            v.type = REG_BINARY;
            for (std::size_t i = 0; i < data.text.size(); i += 2) {
                int hi = HexValue(data.text[i]), lo = HexValue(data.text[i + 1]);
                if (hi < 0 || lo < 0)
                    return Fail("hexadecimal digits expected for 'b'");
                v.data.push_back(static_cast<BYTE>(hi * 16 + lo));
            }
        } else {
            return Fail("value type s, d or b expected");
        }
        return v;
    }

    // Reads keys and values up to the closing brace.
    bool ParseBody(std::vector<ScriptKey>& keys, std::vector<ScriptValue>* values)
    {
        while (true) {
            if (pos_ >= tokens_.size()) {
                Fail("'}' expected");
                return false;
            }
            if (IsWord(tokens_[pos_], u"}")) {
                ++pos_;
                return true;
            }
            if (IsWord(tokens_[pos_], u"val")) {
                if (!values) {
                    Fail("'val' outside a key");
                    return false;
                }
                ++pos_;
                if (pos_ >= tokens_.size()) {
                    Fail("value name expected");
                    return false;
                }
                std::u16string name = tokens_[pos_++].text;
                if (!Expect(u"="))
                    return false;
                auto v = ParseTypedValue();
                if (!v)
                    return false;
                v->name = name;
                values->push_back(std::move(*v));
                continue;
            }
            ScriptKey key;
            const Token& first = tokens_[pos_];
            if (IsWord(first, u"NoRemove"))
                key.flag = Flag::NoRemove;
            else if (IsWord(first, u"ForceRemove"))
                key.flag = Flag::ForceRemove;
            else if (IsWord(first, u"Delete"))
                key.flag = Flag::Delete;
            if (key.flag != Flag::Plain)
                ++pos_;
            if (pos_ >= tokens_.size() || (IsWord(tokens_[pos_], u"{") || IsWord(tokens_[pos_], u"}"))) {
                Fail("key name expected");
                return false;
            }
            key.name = tokens_[pos_++].text;
            if (pos_ < tokens_.size() && IsWord(tokens_[pos_], u"=")) {
                ++pos_;
                auto v = ParseTypedValue();
                if (!v)
                    return false;
                key.defaultValue = std::move(*v);
            }
            if (pos_ < tokens_.size() && IsWord(tokens_[pos_], u"{")) {
                ++pos_;
                if (!ParseBody(key.children, &key.values))
                    return false;
            }
            keys.push_back(std::move(key));
        }
    }

    const std::vector<std::pair<std::u16string, std::u16string>>& repl_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    std::string error_;
};

void RegisterKey(RegKey& parent, const ScriptKey& k)
{
    if (k.flag == Flag::Delete) {
        parent.RemoveChild(k.name);
        return;
    }
    if (k.flag == Flag::ForceRemove)
        parent.RemoveChild(k.name);
    RegKey& key = parent.CreateChild(k.name);
    if (k.defaultValue)
        key.SetValue(u"", k.defaultValue->type, k.defaultValue->data);
    for (const auto& v : k.values)
        key.SetValue(v.name, v.type, v.data);
    for (const auto& c : k.children)
        RegisterKey(key, c);
}

void UnregisterKey(RegKey& parent, const ScriptKey& k)
{
    RegKey* key = parent.Child(k.name);
    if (!key || k.flag == Flag::Delete)
        return;
    if (k.flag == Flag::ForceRemove) {
        parent.RemoveChild(k.name);
        return;
    }
    for (const auto& c : k.children)
        UnregisterKey(*key, c);
    for (const auto& v : k.values)
        key->RemoveValue(v.name);
    if (k.flag == Flag::Plain && !key->HasChildren())
        parent.RemoveChild(k.name);
}

}  // namespace

void Registrar::AddReplacement(std::u16string_view name, std::u16string_view value)
{
    replacements_.emplace_back(std::u16string(name), std::u16string(value));
}

bool Registrar::Check(std::u16string_view script, std::string* error) const
{
    Parser p(script, replacements_);
    bool ok = p.Parse().has_value();
    if (!ok && error)
        *error = p.Error();
    return ok;
}

HRESULT Registrar::Apply(std::u16string_view script, bool doRegister) const
{
    Parser p(script, replacements_);
    auto roots = p.Parse();
    if (!roots)
        return E_INVALIDARG;
    LONG rc = ModifyRegistry([&](RegistryTree& tree) {
        for (const auto& root : *roots)
            for (const auto& k : root.keys) {
                if (doRegister)
                    RegisterKey(tree.Root(root.hive), k);
                else
                    UnregisterKey(tree.Root(root.hive), k);
            }
        return ERROR_SUCCESS;
    });
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT Registrar::StringRegister(std::u16string_view script) const { return Apply(script, true); }

HRESULT Registrar::StringUnregister(std::u16string_view script) const { return Apply(script, false); }

}  // namespace velmo
