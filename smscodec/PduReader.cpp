#include "smscodec/PduReader.h"

#include "smscodec/GsmCharset.h"

#include <array>

namespace velmo::sms {

namespace {

// A hex digit's value by its character; -1 for every other character.
struct HexTable {
    std::array<std::int8_t, 256> value{};
    constexpr HexTable()
    {
        value.fill(-1);
        for (int i = 0; i < 10; ++i)
            value['0' + i] = static_cast<std::int8_t>(i);
        for (int i = 0; i < 6; ++i) {
            value['A' + i] = static_cast<std::int8_t>(10 + i);
            value['a' + i] = static_cast<std::int8_t>(10 + i);
        }
    }
};
constexpr HexTable kHex;

int HexValue(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

constexpr char16_t kSemiOctets[] = u"0123456789*#abc";

}  // namespace

std::optional<std::vector<std::uint8_t>> HexOctets(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return out;
}

std::uint8_t PduReader::Octet()
{
    if (at >= data.size()) {
        ok = false;
        return 0;
    }
    return data[at++];
}

std::span<const std::uint8_t> PduReader::Take(std::size_t n)
{
    if (n > data.size() - at) {
        ok = false;
        at = data.size();
        return {};
    }
    std::span<const std::uint8_t> out(data.data() + at, n);
    at += n;
    return out;
}

std::u16string ReadAddress(PduReader& r)
{
    std::size_t length = r.Octet();
    unsigned type = r.Octet();
    std::span<const std::uint8_t> value = r.Take((length + 1) / 2);
    if (!r.ok)
        return {};
    unsigned numberType = (type >> 4) & 7;
    if (numberType == 5)
        return DecodeGsm7(UnpackSeptetsAt(value, 0, length * 4 / 7));
    std::u16string out = numberType == 1 ? u"+" : u"";
    for (std::size_t i = 0; i < length; ++i) {
        unsigned nibble = (value[i / 2] >> (i % 2 ? 4 : 0)) & 0xF;
        if (nibble == 0xF)
            break;  // the filler of an odd count
        out += kSemiOctets[nibble];
    }
    return out;
}

}  // namespace velmo::sms
