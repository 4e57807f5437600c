#include "platform/BusDataCodec.h"

namespace velmo::detail {

namespace {

constexpr std::string_view kBasic = "bixtuds";

// The length of the complete type that starts at pos.
std::size_t TypeLength(std::string_view sig, std::size_t pos)
{
    if (pos >= sig.size())
        throw BusDataError("the signature ends inside a type");
    char c = sig[pos];
    if (c == 'a') {
        if (pos + 1 < sig.size() && sig[pos + 1] == '{') {
            std::size_t key = pos + 2;
            if (key >= sig.size() || kBasic.find(sig[key]) == std::string_view::npos)
                throw BusDataError("a dictionary's key is not a basic type");
            std::size_t value = key + 1;
            std::size_t end = value + TypeLength(sig, value);
            if (end >= sig.size() || sig[end] != '}')
                throw BusDataError("a dictionary entry is not closed");
            return end + 1 - pos;
        }
        return 1 + TypeLength(sig, pos + 1);
    }
    if (c == '(') {
        std::size_t at = pos + 1;
        while (at < sig.size() && sig[at] != ')')
            at += TypeLength(sig, at);
        if (at >= sig.size() || at == pos + 1)
            throw BusDataError("a structure is empty or not closed");
        return at + 1 - pos;
    }
    if (c == 'v' || kBasic.find(c) != std::string_view::npos)
        return 1;
    throw BusDataError(std::string("the type '") + c + "' is not carried");
}

template <class T>
const T& Expect(const BusData& value, const char* what)
{
    if (!value.Is<T>())
        throw BusDataError(std::string("a value does not fit the type ") + what);
    return std::get<T>(value.Raw());
}

void WriteOne(sdbus::Message& msg, std::string_view type, const BusData& value);

void WriteBasic(sdbus::Message& msg, char type, const BusData& value)
{
    switch (type) {
    case 'b': msg << Expect<bool>(value, "b"); break;
    case 'i': msg << Expect<std::int32_t>(value, "i"); break;
    case 'u': msg << Expect<std::uint32_t>(value, "u"); break;
    case 'x': msg << Expect<std::int64_t>(value, "x"); break;
    case 't': msg << Expect<std::uint64_t>(value, "t"); break;
    case 'd': msg << Expect<double>(value, "d"); break;
    case 's': msg << Expect<std::string>(value, "s"); break;
    default: throw BusDataError("not a basic type");
    }
}

// The basic type a variant carries for value.
char VariantType(const BusData& value)
{
    return std::visit(
        [](const auto& v) -> char {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>)
                return 'b';
            else if constexpr (std::is_same_v<T, std::int32_t>)
                return 'i';
            else if constexpr (std::is_same_v<T, std::uint32_t>)
                return 'u';
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return 'x';
            else if constexpr (std::is_same_v<T, std::uint64_t>)
                return 't';
            else if constexpr (std::is_same_v<T, double>)
                return 'd';
            else if constexpr (std::is_same_v<T, std::string>)
                return 's';
            else
                throw BusDataError("a variant carries only a boolean, a number or a text");
        },
        value.Raw());
}

void WriteOne(sdbus::Message& msg, std::string_view type, const BusData& value)
{
    char c = type[0];
    if (c == 'v') {
        std::string inner(1, VariantType(value));
        msg.openVariant(inner);
        WriteBasic(msg, inner[0], value);
        msg.closeVariant();
    } else if (c == 'a' && type[1] == '{') {
        std::string entry(type.substr(2, type.size() - 3));
        if (entry[0] != 's')
            throw BusDataError("only dictionaries keyed by text are carried");
        msg.openContainer("{" + entry + "}");
        std::string_view valueType = std::string_view(entry).substr(1);
        for (const auto& [key, item] : Expect<BusData::Entries>(value, "a{...}")) {
            msg.openDictEntry(entry);
            WriteBasic(msg, entry[0], BusData(key));
            WriteOne(msg, valueType, item);
            msg.closeDictEntry();
        }
        msg.closeContainer();
    } else if (c == 'a') {
        std::string_view element = type.substr(1);
        msg.openContainer(std::string(element));
        for (const BusData& item : Expect<BusData::List>(value, "a..."))
            WriteOne(msg, element, item);
        msg.closeContainer();
    } else if (c == '(') {
        std::string inner(type.substr(1, type.size() - 2));
        std::vector<std::string> fields = SplitSignature(inner);
        const BusData::List& items = Expect<BusData::List>(value, "(...)");
        if (items.size() != fields.size())
            throw BusDataError("a structure has " + std::to_string(items.size()) + " fields instead of " +
                               std::to_string(fields.size()));
        msg.openStruct(inner);
        for (std::size_t i = 0; i < fields.size(); ++i)
            WriteOne(msg, fields[i], items[i]);
        msg.closeStruct();
    } else {
        WriteBasic(msg, c, value);
    }
}

template <class T>
bool ReadBasic(sdbus::Message& msg, BusData& out)
{
    T v{};
    if (!(msg >> v))
        return false;
    out = BusData(std::move(v));
    return true;
}

bool TryReadBasic(sdbus::Message& msg, char type, BusData& out)
{
    switch (type) {
    case 'b': return ReadBasic<bool>(msg, out);
    case 'i': return ReadBasic<std::int32_t>(msg, out);
    case 'u': return ReadBasic<std::uint32_t>(msg, out);
    case 'x': return ReadBasic<std::int64_t>(msg, out);
    case 't': return ReadBasic<std::uint64_t>(msg, out);
    case 'd': return ReadBasic<double>(msg, out);
    case 's': return ReadBasic<std::string>(msg, out);
    default: throw BusDataError("not a basic type");
    }
}

BusData FromVariant(const sdbus::Variant& v)
{
    std::string type = v.peekValueType();
    if (type == "b")
        return v.get<bool>();
    if (type == "i")
        return v.get<std::int32_t>();
    if (type == "u")
        return v.get<std::uint32_t>();
    if (type == "x")
        return v.get<std::int64_t>();
    if (type == "t")
        return v.get<std::uint64_t>();
    if (type == "d")
        return v.get<double>();
    if (type == "s")
        return v.get<std::string>();
    throw BusDataError("a variant carries the type '" + type + "', which is not read");
}

// Reads one value of type; false at the end of the container it is in.
bool TryReadOne(sdbus::Message& msg, std::string_view type, BusData& out)
{
    char c = type[0];
    if (c == 'v') {
        sdbus::Variant v;
        if (!(msg >> v))
            return false;
        out = FromVariant(v);
        return true;
    }
    if (c == 'a' && type[1] == '{') {
        std::string entry(type.substr(2, type.size() - 3));
        if (entry[0] != 's')
            throw BusDataError("only dictionaries keyed by text are carried");
        if (!msg.enterContainer("{" + entry + "}"))
            return false;
        std::string_view valueType = std::string_view(entry).substr(1);
        BusData::Entries entries;
        while (msg.enterDictEntry(entry)) {
            BusData key, item;
            if (!TryReadBasic(msg, entry[0], key) || !TryReadOne(msg, valueType, item))
                throw BusDataError("a dictionary entry is cut short");
            entries.emplace_back(key.As<std::string>(), std::move(item));
            msg.exitDictEntry();
        }
        msg.clearFlags();
        msg.exitContainer();
        out = BusData(std::move(entries));
        return true;
    }
    if (c == 'a') {
        std::string_view element = type.substr(1);
        if (!msg.enterContainer(std::string(element)))
            return false;
        BusData::List items;
        BusData item;
        while (TryReadOne(msg, element, item))
            items.push_back(std::move(item));
        msg.clearFlags();
        msg.exitContainer();
        out = BusData(std::move(items));
        return true;
    }
    if (c == '(') {
        std::string inner(type.substr(1, type.size() - 2));
        if (!msg.enterStruct(inner))
            return false;
        BusData::List fields;
        for (const std::string& field : SplitSignature(inner)) {
            BusData value;
            if (!TryReadOne(msg, field, value))
                throw BusDataError("a structure is cut short");
            fields.push_back(std::move(value));
        }
        msg.exitStruct();
        out = BusData(std::move(fields));
        return true;
    }
    return TryReadBasic(msg, c, out);
}

}  // namespace

std::vector<std::string> SplitSignature(std::string_view signature)
{
    std::vector<std::string> types;
    for (std::size_t pos = 0; pos < signature.size();) {
        std::size_t length = TypeLength(signature, pos);
        types.emplace_back(signature.substr(pos, length));
        pos += length;
    }
    return types;
}

void WriteBusData(sdbus::Message& msg, std::string_view signature, const std::vector<BusData>& values)
{
    std::vector<std::string> types = SplitSignature(signature);
    if (types.size() != values.size())
        throw BusDataError(std::to_string(values.size()) + " values for the signature " + std::string(signature));
    for (std::size_t i = 0; i < types.size(); ++i)
        WriteOne(msg, types[i], values[i]);
}

std::vector<BusData> ReadBusData(sdbus::Message& msg, std::string_view signature)
{
    std::vector<BusData> values;
    for (const std::string& type : SplitSignature(signature)) {
        BusData value;
        if (!TryReadOne(msg, type, value))
            throw BusDataError("the message holds less than its signature " + std::string(signature));
        values.push_back(std::move(value));
    }
    return values;
}

}  // namespace velmo::detail
