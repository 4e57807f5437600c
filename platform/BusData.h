// A value as it crosses the bus, in plain C++, so that the system's code
// never sees the D-Bus library's types.
//
// A value is one of: a boolean, a signed or unsigned 32- or 64-bit integer,
// a double, a text (UTF-8), a list, or a list of named entries. Which D-Bus
// type it stands for is said by the signature it is written with: a list
// is an array ("a...") or a structure ("(...)"), named entries are a
// dictionary keyed by text ("a{s...}"; no other key is carried), and a variant ("v") carries a
// boolean, integer, double or text as its own type. Reading gives the same
// shapes back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace velmo {

class BusData {
public:
    using List = std::vector<BusData>;
    using Entries = std::vector<std::pair<std::string, BusData>>;

    BusData() : value_(std::string()) {}
    BusData(bool v) : value_(v) {}
    BusData(std::int32_t v) : value_(v) {}
    BusData(std::uint32_t v) : value_(v) {}
    BusData(std::int64_t v) : value_(v) {}
    BusData(std::uint64_t v) : value_(v) {}
    BusData(double v) : value_(v) {}
    BusData(std::string v) : value_(std::move(v)) {}
    BusData(const char* v) : value_(std::string(v)) {}
    BusData(List v) : value_(std::move(v)) {}
    BusData(Entries v) : value_(std::move(v)) {}

    template <class T>
    bool Is() const
    {
        return std::holds_alternative<T>(value_);
    }
    // The value as T; T's empty value when it holds another type.
    template <class T>
    T As() const
    {
        const T* v = std::get_if<T>(&value_);
        return v ? *v : T{};
    }
    // The list it holds; an empty one when it holds none.
    const List& Items() const
    {
        static const List none;
        const List* v = std::get_if<List>(&value_);
        return v ? *v : none;
    }
    // The named entries it holds; none when it holds no entries.
    const Entries& Named() const
    {
        static const Entries none;
        const Entries* v = std::get_if<Entries>(&value_);
        return v ? *v : none;
    }
    // The entry of that name; null when there is none.
    const BusData* Find(const std::string& name) const
    {
        for (const auto& [key, value] : Named())
            if (key == name)
                return &value;
        return nullptr;
    }

    using Value = std::variant<bool, std::int32_t, std::uint32_t, std::int64_t, std::uint64_t, double, std::string,
                               List, Entries>;
    const Value& Raw() const { return value_; }

private:
    Value value_;
};

// The error a bus call ended with: its D-Bus name and message.
struct BusError {
    std::string name;
    std::string message;
};

}  // namespace velmo
