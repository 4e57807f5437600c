#include "platform/RegistryTree.h"

#include "platform/Text.h"

#include <cstdio>

namespace velmo {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

std::u16string DecodeStringData(const std::vector<BYTE>& data, bool& clean)
{
    std::u16string text;
    clean = data.size() % 2 == 0 && data.size() >= 2;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) {
            if (i + 2 != data.size())
                clean = false;
            break;
        }
        text += c;
    }
    if (clean && (data[data.size() - 2] != 0 || data[data.size() - 1] != 0))
        clean = false;
    return text;
}

std::string Quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

void SerializeKey(const RegKey& key, const std::string& path, std::string& out)
{
    out += "[" + path + "]\n";
    for (const auto& v : key.Values()) {
        out += v.name.empty() ? std::string("@") : Quote(Utf16ToUtf8(v.name));
        out += '=';
        bool clean = false;
        std::u16string text;
        if (v.type == REG_SZ)
            text = DecodeStringData(v.data, clean);
        if (v.type == REG_SZ && clean) {
            out += Quote(Utf16ToUtf8(text));
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x",
                          static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                                (static_cast<unsigned>(v.data[3]) << 24)));
            out += buf;
        } else {
            char buf[16];
            if (v.type == REG_BINARY)
                out += "hex:";
            else {
                std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
                out += buf;
            }
            for (std::size_t i = 0; i < v.data.size(); ++i) {
                std::snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", v.data[i]);
                out += buf;
            }
        }
        out += '\n';
    }
    out += '\n';
    for (const RegKey* child : key.Children())
        SerializeKey(*child, path + "\\" + Utf16ToUtf8(child->Name()), out);
}

// Reads a quoted string at text[pos] (which is '"'); advances pos past it.
std::optional<std::string> ReadQuoted(std::string_view text, std::size_t& pos)
{
    std::string out;
    ++pos;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"')
            return out;
        if (c == '\\') {
            if (pos >= text.size())
                return std::nullopt;
            out += text[pos++];
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view s)
{
    std::vector<BYTE> out;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
    };
    skip();
    if (i == s.size())
        return out;
    while (true) {
        skip();
        if (i + 2 > s.size())
            return std::nullopt;
        int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<BYTE>(hi * 16 + lo));
        i += 2;
        skip();
        if (i == s.size())
            return out;
        if (s[i] != ',')
            return std::nullopt;
        ++i;
    }
}

// True for a value line whose data is hex, the one kind that may continue.
bool IsHexValueLine(std::string_view line)
{
    std::size_t p = line.find_first_not_of(" \t");
    if (p == std::string_view::npos)
        return false;
    if (line[p] == '@') {
        ++p;
    } else if (line[p] == '"') {
        if (!ReadQuoted(line, p))
            return false;
    } else {
        return false;
    }
    return line.substr(p, 4) == "=hex";
}

bool ParseHive(std::string_view name, Hive& h)
{
    std::u16string folded = FoldCase(Utf8ToUtf16(name));
    if (folded == u"HKEY_LOCAL_MACHINE" || folded == u"HKLM") {
        h = Hive::LocalMachine;
        return true;
    }
    if (folded == u"HKEY_CLASSES_ROOT" || folded == u"HKCR") {
        h = Hive::ClassesRoot;
        return true;
    }
    return false;
}

}  // namespace

std::vector<std::u16string> SplitKeyPath(std::u16string_view path)
{
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<BYTE> StringData(std::u16string_view text)
{
    std::vector<BYTE> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

RegKey* RegKey::Child(std::u16string_view name)
{
    auto it = children_.find(FoldCase(name));
    return it == children_.end() ? nullptr : it->second.get();
}

const RegKey* RegKey::Child(std::u16string_view name) const
{
    auto it = children_.find(FoldCase(name));
    return it == children_.end() ? nullptr : it->second.get();
}

RegKey& RegKey::CreateChild(std::u16string_view name)
{
    auto& slot = children_[FoldCase(name)];
    if (!slot)
        slot = std::make_unique<RegKey>(std::u16string(name));
    return *slot;
}

bool RegKey::RemoveChild(std::u16string_view name) { return children_.erase(FoldCase(name)) > 0; }

std::vector<const RegKey*> RegKey::Children() const
{
    std::vector<const RegKey*> out;
    for (const auto& [folded, key] : children_)
        out.push_back(key.get());
    return out;
}

const RegValue* RegKey::Value(std::u16string_view name) const
{
    for (const auto& v : values_)
        if (EqualsNoCase(v.name, name))
            return &v;
    return nullptr;
}

void RegKey::SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data)
{
    for (auto& v : values_)
        if (EqualsNoCase(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    values_.push_back(RegValue{std::u16string(name), type, std::move(data)});
}

bool RegKey::RemoveValue(std::u16string_view name)
{
    for (auto it = values_.begin(); it != values_.end(); ++it)
        if (EqualsNoCase(it->name, name)) {
            values_.erase(it);
            return true;
        }
    return false;
}

void RegKey::Clear()
{
    values_.clear();
    children_.clear();
}

std::optional<std::u16string> RegKey::String(std::u16string_view name) const
{
    const RegValue* v = Value(name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ))
        return std::nullopt;
    bool clean;
    return DecodeStringData(v->data, clean);
}

void RegKey::SetString(std::u16string_view name, std::u16string_view text) { SetValue(name, REG_SZ, StringData(text)); }

RegKey* RegistryTree::Find(Hive h, std::u16string_view path)
{
    RegKey* key = &Root(h);
    for (const auto& part : SplitKeyPath(path)) {
        key = key->Child(part);
        if (!key)
            return nullptr;
    }
    return key;
}

const RegKey* RegistryTree::Find(Hive h, std::u16string_view path) const
{
    return const_cast<RegistryTree*>(this)->Find(h, path);
}

RegKey& RegistryTree::Create(Hive h, std::u16string_view path)
{
    RegKey* key = &Root(h);
    for (const auto& part : SplitKeyPath(path))
        key = &key->CreateChild(part);
    return *key;
}

bool RegistryTree::RemoveTree(Hive h, std::u16string_view path)
{
    auto parts = SplitKeyPath(path);
    if (parts.empty())
        return false;
    std::u16string last = parts.back();
    parts.pop_back();
    RegKey* parent = &Root(h);
    for (const auto& part : parts) {
        parent = parent->Child(part);
        if (!parent)
            return false;
    }
    return parent->RemoveChild(last);
}

std::string RegistryTree::Serialize() const
{
    std::string out = std::string(kHeader) + "\n\n";
    for (Hive h : {Hive::LocalMachine, Hive::ClassesRoot})
        for (const RegKey* child : Root(h).Children())
            SerializeKey(*child, Utf16ToUtf8(Root(h).Name()) + "\\" + Utf16ToUtf8(child->Name()), out);
    return out;
}

std::optional<RegistryTree> RegistryTree::Parse(std::string_view text, std::string* error)
{
    auto fail = [&](std::size_t line, const std::string& why) -> std::optional<RegistryTree> {
        if (error)
            *error = "line " + std::to_string(line) + ": " + why;
        return std::nullopt;
    };
    // Join continuation lines (a trailing backslash outside a string).
    std::vector<std::pair<std::size_t, std::string>> lines;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    std::string pending;
    std::size_t pendingLine = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line(text.substr(pos, end - pos));
        ++lineNo;
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (pending.empty())
            pendingLine = lineNo;
        // A continuation belongs to hex data only: "name"=hex:00,01,\ .
        std::string candidate = pending + line;
        bool continued = !line.empty() && line.back() == '\\' && IsHexValueLine(candidate);
        if (continued) {
            candidate.pop_back();
            pending = candidate;
            continue;
        }
        lines.emplace_back(pendingLine, candidate);
        pending.clear();
        if (end == text.size())
            break;
    }
    if (!pending.empty())
        return fail(pendingLine, "continuation at the end of the file");

    RegistryTree tree;
    bool headerSeen = false;
    RegKey* current = nullptr;
    for (auto& [no, raw] : lines) {
        std::string_view line(raw);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';')
            continue;
        if (!headerSeen) {
            if (line != kHeader)
                return fail(no, "not a registry file (header missing)");
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail(no, "unterminated key name");
            std::string_view path = line.substr(1, line.size() - 2);
            std::size_t slash = path.find('\\');
            std::string_view hiveName = path.substr(0, slash);
            Hive h;
            if (!ParseHive(hiveName, h))
                return fail(no, "unknown hive");
            std::u16string rest = slash == std::string_view::npos ? u"" : Utf8ToUtf16(path.substr(slash + 1));
            current = &tree.Create(h, rest);
            continue;
        }
        if (!current)
            return fail(no, "value outside a key");
        std::u16string name;
        std::size_t p = 0;
        if (line.front() == '@') {
            p = 1;
        } else if (line.front() == '"') {
            auto n = ReadQuoted(line, p);
            if (!n)
                return fail(no, "unterminated value name");
            name = Utf8ToUtf16(*n);
        } else {
            return fail(no, "value name expected");
        }
        if (p >= line.size() || line[p] != '=')
            return fail(no, "'=' expected");
        std::string_view data = line.substr(p + 1);
        if (!data.empty() && data.front() == '"') {
            std::size_t q = 0;
            auto s = ReadQuoted(data, q);
            if (!s || q != data.size())
                return fail(no, "malformed string");
            current->SetString(name, Utf8ToUtf16(*s));
        } else if (data.substr(0, 6) == "dword:") {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8)
                return fail(no, "malformed dword");
            std::uint32_t v = 0;
            for (char c : digits) {
                int d = HexDigit(c);
                if (d < 0)
                    return fail(no, "malformed dword");
                v = (v << 4) | static_cast<std::uint32_t>(d);
            }
            current->SetValue(name, REG_DWORD,
                              {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                               static_cast<BYTE>(v >> 24)});
        } else if (data.substr(0, 4) == "hex:" || data.substr(0, 4) == "hex(") {
            DWORD type = REG_BINARY;
            std::size_t colon = data.find(':');
            if (data[3] == '(') {
                std::size_t close = data.find(')');
                if (close == std::string_view::npos || close + 1 != colon || close <= 4)
                    return fail(no, "malformed hex type");
                type = 0;
                for (std::size_t i = 4; i < close; ++i) {
                    int d = HexDigit(data[i]);
                    if (d < 0)
                        return fail(no, "malformed hex type");
                    type = type * 16 + static_cast<DWORD>(d);
                }
            }
            auto bytes = ParseHexBytes(data.substr(colon + 1));
            if (!bytes)
                return fail(no, "malformed hex data");
            current->SetValue(name, type, std::move(*bytes));
        } else {
            return fail(no, "unknown value data");
        }
    }
    if (!headerSeen && !lines.empty()) {
        bool anyContent = false;
        for (auto& [no, raw] : lines)
            if (raw.find_first_not_of(" \t") != std::string::npos)
                anyContent = true;
        if (anyContent)
            return fail(1, "not a registry file (header missing)");
    }
    return tree;
}

}  // namespace velmo
