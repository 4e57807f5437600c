#include "smscodec/GsmCharset.h"

#include <array>

namespace velmo::sms {

namespace {

// The basic table: code -> character. 0x1B is the escape.
constexpr char16_t kBasic[128] = {
    u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',  // 0x00
    u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',  // 0x08
    u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',  // 0x10
    u'\u03A3', u'\u0398', u'\u039E', u'\x1B',   u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',  // 0x18
    u' ',      u'!',      u'"',      u'#',      u'\u00A4', u'%',      u'&',      u'\'',      // 0x20
    u'(',      u')',      u'*',      u'+',      u',',      u'-',      u'.',      u'/',       // 0x28
    u'0',      u'1',      u'2',      u'3',      u'4',      u'5',      u'6',      u'7',       // 0x30
    u'8',      u'9',      u':',      u';',      u'<',      u'=',      u'>',      u'?',       // 0x38
    u'\u00A1', u'A',      u'B',      u'C',      u'D',      u'E',      u'F',      u'G',       // 0x40
    u'H',      u'I',      u'J',      u'K',      u'L',      u'M',      u'N',      u'O',       // 0x48
    u'P',      u'Q',      u'R',      u'S',      u'T',      u'U',      u'V',      u'W',       // 0x50
    u'X',      u'Y',      u'Z',      u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',  // 0x58
    u'\u00BF', u'a',      u'b',      u'c',      u'd',      u'e',      u'f',      u'g',       // 0x60
    u'h',      u'i',      u'j',      u'k',      u'l',      u'm',      u'n',      u'o',       // 0x68
    u'p',      u'q',      u'r',      u's',      u't',      u'u',      u'v',      u'w',       // 0x70
    u'x',      u'y',      u'z',      u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',  // 0x78
};

struct Extension {
    std::uint8_t code;
    char16_t character;
};

// The extension table: the code after the escape -> character.
constexpr Extension kExtension[] = {
    {0x0A, u'\f'}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['},  {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, u'\u20AC'},
};

// Character -> septets: 0 none, else the code (basic) or 0x100 | code (extension).
struct Reverse {
    std::array<std::uint16_t, 0x10000> code{};
    Reverse()
    {
        for (unsigned i = 0; i < 128; ++i)
            if (i != 0x1B)
                code[kBasic[i]] = static_cast<std::uint16_t>(0x200 | i);
        for (const Extension& e : kExtension)
            code[e.character] = static_cast<std::uint16_t>(0x300 | e.code);
    }
};

const Reverse& Table()
{
    static const Reverse table;
    return table;
}

}  // namespace

int Gsm7Width(char16_t c)
{
    std::uint16_t entry = Table().code[c];
    return entry == 0 ? 0 : (entry & 0x100) ? 2 : 1;
}

bool EncodeGsm7(std::u16string_view text, std::string& septets)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        std::uint16_t entry = Table().code[c];
        if (entry == 0)
            return false;
        if (entry & 0x100)
            out += kGsmEscape;
        out += static_cast<char>(entry & 0x7F);
    }
    septets = std::move(out);
    return true;
}

std::u16string DecodeGsm7(std::string_view septets)
{
    std::u16string out;
    out.reserve(septets.size());
    for (std::size_t i = 0; i < septets.size(); ++i) {
        auto code = static_cast<std::uint8_t>(septets[i] & 0x7F);
        if (code != 0x1B) {
            out += kBasic[code];
            continue;
        }
        if (++i == septets.size())
            break;  // an escape with nothing after it
        auto next = static_cast<std::uint8_t>(septets[i] & 0x7F);
        if (next == 0x1B) {
            out += u' ';
            continue;
        }
        char16_t c = kBasic[next];
        for (const Extension& e : kExtension)
            if (e.code == next)
                c = e.character;
        out += c;
    }
    return out;
}

std::vector<std::uint8_t> PackSeptetsAt(std::string_view codes, unsigned startBit)
{
    std::size_t bits = startBit + 7 * codes.size();
    std::vector<std::uint8_t> out((bits + 7) / 8, 0);
    std::size_t bit = startBit;
    for (char c : codes) {
        unsigned v = static_cast<unsigned char>(c) & 0x7F;
        std::size_t byte = bit / 8;
        unsigned shift = bit % 8;
        out[byte] = static_cast<std::uint8_t>(out[byte] | ((v << shift) & 0xFF));
        if (shift > 1)
            out[byte + 1] = static_cast<std::uint8_t>(out[byte + 1] | (v >> (8 - shift)));
        bit += 7;
    }
    return out;
}

std::string UnpackSeptetsAt(std::span<const std::uint8_t> octets, unsigned startBit, std::size_t count)
{
    std::string out;
    out.reserve(count);
    std::size_t bit = startBit;
    for (std::size_t n = 0; n < count && bit + 7 <= 8 * octets.size(); ++n, bit += 7) {
        std::size_t byte = bit / 8;
        unsigned shift = bit % 8;
        unsigned v = octets[byte] >> shift;
        if (shift > 1)
            v |= static_cast<unsigned>(octets[byte + 1]) << (8 - shift);
        out += static_cast<char>(v & 0x7F);
    }
    return out;
}

}  // namespace velmo::sms
