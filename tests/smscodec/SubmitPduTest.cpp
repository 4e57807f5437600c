#include "smscodec/GsmAlphabet.h"
#include "smscodec/SubmitPdu.h"
#include "platform/Text.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace velmo::sms;

// An independent reader of SMS-SUBMIT, written from GSM 03.40: it walks the
// fields by their definitions, not by the encoder's steps.
struct Submit {
    std::string number;
    int toa = 0;
    int vp = 0;
    int udl = 0;
    std::string text;  // GSM codes
};

int Octet(const std::string& hex, std::size_t& pos)
{
    int v = std::stoi(hex.substr(pos, 2), nullptr, 16);
    pos += 2;
    return v;
}

Submit Read(const std::string& pdu, bool smscPart)
{
    Submit s;
    std::size_t pos = 0;
    if (smscPart)
        pos += 2 * static_cast<std::size_t>(Octet(pdu, pos));  // skips the SMSC address it announces
    int first = Octet(pdu, pos);
    EXPECT_EQ(first & 0x03, 0x01) << "TP-MTI SMS-SUBMIT";
    EXPECT_EQ((first >> 3) & 0x03, 0x02) << "TP-VPF relative";
    Octet(pdu, pos);  // TP-MR
    int digits = Octet(pdu, pos);
    s.toa = Octet(pdu, pos);
    for (int i = 0; i < (digits + 1) / 2; ++i) {
        std::string pair = pdu.substr(pos, 2);
        pos += 2;
        s.number += pair[1];
        if (pair[0] != 'F')
            s.number += pair[0];
    }
    EXPECT_EQ(Octet(pdu, pos), 0) << "TP-PID";
    EXPECT_EQ(Octet(pdu, pos), 0) << "TP-DCS";
    s.vp = Octet(pdu, pos);
    s.udl = Octet(pdu, pos);
    std::vector<int> octets;
    while (pos < pdu.size())
        octets.push_back(Octet(pdu, pos));
    EXPECT_EQ(octets.size(), static_cast<std::size_t>((s.udl * 7 + 7) / 8));
    for (int i = 0; i < s.udl; ++i) {
        int bit = i * 7;
        int v = octets[static_cast<std::size_t>(bit / 8)] >> (bit % 8);
        if (bit % 8 > 1 && static_cast<std::size_t>(bit / 8 + 1) < octets.size())
            v |= octets[static_cast<std::size_t>(bit / 8 + 1)] << (8 - bit % 8);
        s.text += static_cast<char>(v & 0x7F);
    }
    return s;
}

TEST(SubmitPdu, ExamplesWithAndWithoutServiceCentre)
{
    std::string with = EncodeSubmitPdu("+123456789", "abc", 0);
    EXPECT_EQ(with, "001100099121436587F90000AA0361F118");
    EXPECT_EQ(SubmitLength(with, 0), 16);
    std::string without = EncodeSubmitPdu("+123456789", "abc", 1);
    EXPECT_EQ(without, "1100099121436587F90000AA0361F118");
    EXPECT_EQ(SubmitLength(without, 1), 16);
}

TEST(SubmitPdu, HelloHelloPacking)
{
    std::string codes = "hellohello";
    auto octets = PackSeptets(codes);
    EXPECT_EQ(octets, (std::vector<std::uint8_t>{0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0xEC, 0x37}));
}

struct Case {
    const char* number;
    std::size_t textLength;
    const char* addressPart;  // length, type and digits
    const char* udl;
    std::size_t udOctets;
};

TEST(SubmitPdu, AddressesAndLengths)
{
    const Case cases[] = {
        {"+123456789", 0, "099121436587F9", "00", 0},
        {"0123456789", 7, "0A811032547698", "07", 7},
        {"+1", 8, "0191F1", "08", 7},
        {"12", 160, "028121", "A0", 140},
        {"12", 161, "028121", "A0", 140},
        {"12", 400, "028121", "A0", 140},
    };
    for (const auto& c : cases) {
        std::string pdu = EncodeSubmitPdu(c.number, std::string(c.textLength, 'x'), 0);
        std::size_t addr = std::string(c.addressPart).size();
        EXPECT_EQ(pdu.substr(0, 6), "001100");
        EXPECT_EQ(pdu.substr(6, addr), c.addressPart) << c.number;
        EXPECT_EQ(pdu.substr(6 + addr, 6), "0000AA") << c.number;
        EXPECT_EQ(pdu.substr(12 + addr, 2), c.udl) << c.number;
        EXPECT_EQ((pdu.size() - 14 - addr) / 2, c.udOctets) << c.number;
    }
}

TEST(SubmitPdu, LongTextIsCutAndSubstitutesNeverLengthen)
{
    std::string base(160, 'a');
    EXPECT_EQ(EncodeSubmitPdu("+44", base + "overflow", 0), EncodeSubmitPdu("+44", base, 0));
    Submit s = Read(EncodeSubmitPdu("+44", "[~]", 0), true);
    EXPECT_EQ(s.udl, 3);
    std::string back = s.text;
    GsmToLatin(back);
    EXPECT_EQ(back, "(-)");
}

TEST(SubmitPdu, ReferenceReaderAgreesOnRandomMessages)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        bool plus = rng() % 2;
        std::string digits;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 15); i < n; ++i)
            digits += static_cast<char>('0' + rng() % 10);
        std::string text;
        for (int i = 0, n = static_cast<int>(rng() % 200); i < n; ++i)
            text += static_cast<char>(rng() % 256);
        std::uint16_t noSmsc = static_cast<std::uint16_t>(rng() % 2);
        std::string pdu = EncodeSubmitPdu((plus ? "+" : "") + digits, text, noSmsc);
        ASSERT_EQ(pdu.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        Submit s = Read(pdu, noSmsc == 0);
        EXPECT_EQ(s.number, digits);
        EXPECT_EQ(s.toa, plus ? 0x91 : 0x81);
        EXPECT_EQ(s.vp, 0xAA);
        std::string expect = text.substr(0, 160);
        LatinToGsm(expect);
        EXPECT_EQ(s.udl, static_cast<int>(expect.size()));
        EXPECT_EQ(s.text, expect);
        EXPECT_EQ(SubmitLength(pdu, noSmsc), static_cast<int>((pdu.size() - (noSmsc ? 0 : 2)) / 2));
    }
}

// The parts of a message as the decoder reads them back.
struct Parts {
    std::vector<DecodedPdu> parts;
    std::vector<std::size_t> userDataOctets;
    std::u16string text;
};

Parts ReadBack(const SubmitMessage& message, std::uint16_t noSmsc, std::size_t digits)
{
    // First octet, reference, address length and type, the digits, PID, DCS, validity and UDL.
    const std::size_t headerOctets = 8 + (digits + 1) / 2 + (noSmsc ? 0 : 1);
    Parts out;
    for (const std::string& pdu : message.pdus) {
        auto d = DecodePdu(pdu, noSmsc);
        EXPECT_TRUE(d) << pdu;
        if (!d)
            continue;
        EXPECT_TRUE(d->submit);
        out.userDataOctets.push_back(pdu.size() / 2 - headerOctets);
        out.text += d->text;
        out.parts.push_back(*d);
    }
    return out;
}

std::u16string Repeat(std::u16string_view piece, std::size_t n)
{
    std::u16string out;
    for (std::size_t i = 0; i < n; ++i)
        out += piece;
    return out;
}

TEST(EncodeSubmit, PartsAndTheirLengths)
{
    const struct {
        const char* name;
        std::u16string text;
        bool full;
        unsigned maxParts;
        Coding coding;
        std::vector<std::size_t> lengths;  // characters of each part's text
        bool cut;
    } cases[] = {
        {"empty", u"", true, 255, Coding::Gsm7, {0}, false},
        {"160 septets alone", Repeat(u"a", 160), true, 255, Coding::Gsm7, {160}, false},
        {"161 septets", Repeat(u"a", 161), true, 255, Coding::Gsm7, {153, 8}, false},
        {"escape kept with its code",
         Repeat(u"a", 152) + u"€" + Repeat(u"b", 10),
         true,
         255,
         Coding::Gsm7,
         {152, 11},
         false},
        {"escape before the cut",
         Repeat(u"a", 151) + u"€" + Repeat(u"b", 10),
         true,
         255,
         Coding::Gsm7,
         {152, 10},
         false},
        {"70 UCS2 alone", Repeat(u"Ж", 70), true, 255, Coding::Ucs2, {70}, false},
        {"71 UCS2", Repeat(u"Ж", 71), true, 255, Coding::Ucs2, {67, 4}, false},
        {"surrogate pair kept whole",
         Repeat(u"Ж", 66) + u"😀" + Repeat(u"Ж", 5),
         true,
         255,
         Coding::Ucs2,
         {66, 7},
         false},
        {"one part at most", Repeat(u"a", 161), true, 1, Coding::Gsm7, {160}, true},
        {"two parts at most", Repeat(u"a", 400), true, 2, Coding::Gsm7, {153, 153}, true},
        {"UCS2 cut", Repeat(u"Ж", 200), true, 2, Coding::Ucs2, {67, 67}, true},
        {"the 8-bit path in parts", Repeat(u"ü", 200), false, 3, Coding::Gsm7, {153, 47}, false},
        {"the 8-bit path alone", Repeat(u"Ж", 200), false, 1, Coding::Gsm7, {160}, true},
    };
    for (const auto& c : cases) {
        SubmitMessage m = EncodeSubmit("+4917", c.text, {0, c.full, c.maxParts, 0x1A5});
        EXPECT_EQ(m.coding, c.coding) << c.name;
        EXPECT_EQ(m.cut, c.cut) << c.name;
        Parts back = ReadBack(m, 0, 4);
        ASSERT_EQ(back.parts.size(), c.lengths.size()) << c.name;
        for (std::size_t i = 0; i < back.parts.size(); ++i) {
            const DecodedPdu& part = back.parts[i];
            EXPECT_EQ(part.address, u"+4917");
            EXPECT_EQ(part.text.size(), c.lengths[i]) << c.name << " part " << i + 1;
            EXPECT_LE(back.userDataOctets[i], 140u) << c.name;
            if (c.lengths.size() == 1) {
                EXPECT_FALSE(part.concatenation) << c.name;
                continue;
            }
            ASSERT_TRUE(part.concatenation) << c.name;
            EXPECT_EQ(part.concatenation->reference, 0xA5u) << c.name;
            EXPECT_EQ(part.concatenation->total, c.lengths.size()) << c.name;
            EXPECT_EQ(part.concatenation->sequence, i + 1) << c.name;
        }
        if (!c.cut && c.full) {
            EXPECT_EQ(back.text, c.text) << c.name;
        }
        if (c.cut && c.full) {
            EXPECT_EQ(back.text, c.text.substr(0, back.text.size())) << c.name;
        }
    }
}

TEST(EncodeSubmit, TheDefaultsSendWhatTheSingle8BitEncoderSends)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (int i = 0, n = static_cast<int>(rng() % 200); i < n; ++i)
            text += static_cast<char>(0x20 + rng() % 0x60);
        std::uint16_t noSmsc = static_cast<std::uint16_t>(rng() % 2);
        SubmitMessage m = EncodeSubmit("+4917", velmo::AnsiToUtf16(text), {noSmsc, false, 1, 0});
        ASSERT_EQ(m.pdus.size(), 1u);
        EXPECT_EQ(m.pdus[0], EncodeSubmitPdu("+4917", text, noSmsc));
        EXPECT_EQ(m.cut, text.size() > 160);
    }
}

TEST(EncodeSubmit, RandomTextsComeBackWhole)
{
    const std::u16string pools[] = {
        u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?¡ABCXYZÄÖÑÜ§¿abcxyzäöñüà",
        u"abc{}[]~^|\\€\f",
        u"abcЖЁжё€😀日本{",
    };
    std::mt19937 rng(17);
    for (int round = 0; round < 1500; ++round) {
        const std::u16string& pool = pools[round % 3];
        std::u16string text;
        for (int i = 0, n = static_cast<int>(rng() % 700); i < n; ++i) {
            char16_t c = pool[rng() % pool.size()];
            if (c >= 0xD800 && c <= 0xDBFF)
                text += u"😀";
            else if (c < 0xDC00 || c > 0xDFFF)
                text += c;
        }
        std::uint16_t noSmsc = static_cast<std::uint16_t>(rng() % 2);
        SubmitMessage m = EncodeSubmit("12345", text, {noSmsc, true, 255, static_cast<unsigned>(round)});
        ASSERT_FALSE(m.cut);
        Parts back = ReadBack(m, noSmsc, 5);
        ASSERT_EQ(back.text, text) << round;
        for (std::size_t octets : back.userDataOctets)
            EXPECT_LE(octets, 140u);
    }
}

}  // namespace
