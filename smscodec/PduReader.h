// What every PDU reader of the codec shares: hex text to octets, a cursor
// that fails rather than read past the end, and the address field of
// 3GPP TS 23.040 (9.1.2.5). Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::sms {

// The octets of an even number of hex digits (either case); nullopt for
// an odd count or a character that is no hex digit.
std::optional<std::vector<std::uint8_t>> HexOctets(std::string_view hex);

// A forward cursor over octets. A read past the end gives 0 (or an empty
// span), moves to the end and clears ok for good.
struct PduReader {
    const std::vector<std::uint8_t>& data;
    std::size_t at = 0;
    bool ok = true;

    std::uint8_t Octet();
    std::span<const std::uint8_t> Take(std::size_t n);
    bool AtEnd() const { return at >= data.size(); }
};

// decode(octets, withSmsc) of hex's octets in the reading withSmsc says;
// nullopt for hex that is no octets, or empty.
template <class Decode>
auto DecodeOneWay(std::string_view hex, bool withSmsc, Decode decode) -> decltype(decode({}, true))
{
    auto octets = HexOctets(hex);
    if (!octets || octets->empty())
        return std::nullopt;
    return decode(*octets, withSmsc);
}

// The same in the reading noSmsc prefers (with the centre part for 0),
// then in the other.
template <class Decode>
auto DecodeEitherWay(std::string_view hex, std::uint16_t noSmsc, Decode decode) -> decltype(decode({}, true))
{
    auto octets = HexOctets(hex);
    if (!octets || octets->empty())
        return std::nullopt;
    if (auto read = decode(*octets, noSmsc == 0))
        return read;
    return decode(*octets, noSmsc != 0);
}

// An address: its length in semi-octets, its type, its digits: "+" and
// digits for the international type, the name for the alphanumeric type
// 5, the digits (and * # a b c) otherwise. "" when the field runs past the
// end (the reader's ok is then false).
std::u16string ReadAddress(PduReader& r);

}  // namespace velmo::sms
