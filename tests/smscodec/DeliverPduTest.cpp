#include "smscodec/DeliverPdu.h"
#include "smscodec/GsmCharset.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace velmo::sms;

// "abc" from +123456789, with the service-centre part +123456789F.
const std::string kExample = "069121436587F904099121436587F90000203012914500400361F118";
const std::string kStamp = "20301291450040";

std::string Hex(const std::vector<std::uint8_t>& octets)
{
    std::string out;
    char buf[3];
    for (auto o : octets) {
        std::snprintf(buf, sizeof buf, "%02X", o);
        out += buf;
    }
    return out;
}

std::string HexOctet(unsigned v) { return Hex({static_cast<std::uint8_t>(v)}); }

// A DELIVER without service-centre part: first octet, sender part, DCS,
// user data length and user data, all given.
std::string Deliver(unsigned first, const std::string& sender, unsigned dcs, unsigned udl, const std::string& ud)
{
    return HexOctet(first) + sender + "00" + HexOctet(dcs) + kStamp + HexOctet(udl) + ud;
}

// A GSM 7-bit DELIVER of text from +1234, after an optional user data header (hex, with its length octet).
std::string Gsm7Deliver(std::u16string_view text, const std::string& header = "")
{
    std::string septets;
    EXPECT_TRUE(EncodeGsm7(text, septets));
    std::size_t headerOctets = header.size() / 2;
    unsigned skip = static_cast<unsigned>((headerOctets * 8 + 6) / 7);
    std::vector<std::uint8_t> ud = PackSeptetsAt(septets, skip * 7);
    std::string hex = Hex(ud);
    hex.replace(0, header.size(), header);
    return Deliver(header.empty() ? 0x04 : 0x44, "04912143", 0x00, static_cast<unsigned>(skip + septets.size()), hex);
}

TEST(DeliverPdu, TheExampleWithAndWithoutServiceCentrePart)
{
    const std::string noSmscPart = kExample.substr(14);
    const std::string emptySmscPart = "00" + noSmscPart;
    std::string lower = kExample;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& pdu : {kExample, noSmscPart, emptySmscPart, lower}) {
        for (std::uint16_t flag : {0, 1}) {
            auto d = DecodePdu(pdu, flag);
            ASSERT_TRUE(d) << pdu << " " << flag;
            EXPECT_FALSE(d->submit);
            EXPECT_EQ(d->address, u"+123456789");
            EXPECT_EQ(d->text, u"abc");
            EXPECT_EQ(d->coding, Coding::Gsm7);
            EXPECT_EQ(d->header, "");
            EXPECT_FALSE(d->concatenation);
        }
    }
}

TEST(DeliverPdu, WhatDoesNotHoldWhatItsHeaderAnnouncesIsRefused)
{
    for (std::size_t cut = 0; cut < kExample.size(); ++cut)
        EXPECT_FALSE(DecodePdu(kExample.substr(0, cut), 0)) << cut;
    std::string statusReport = kExample;
    statusReport[15] = '6';  // first octet 06: a status report
    std::string reserved = kExample;
    reserved[15] = '7';
    const std::string refused[] = {
        kExample + "00",                                      // an octet left over
        kExample.substr(0, 20) + "ZZ" + kExample.substr(22),  // not hex
        kExample.substr(0, 21) + " " + kExample.substr(22),
        statusReport,
        reserved,
        Deliver(0x04, "04912143", 0x04, 4, "414243"),  // 8-bit: 4 octets announced, 3 there
        Deliver(0x04, "04912143", 0x08, 4, "0041"),    // UCS2: the same
        Deliver(0x44, "04912143", 0x04, 3, "054142"),  // a header longer than the data
        Deliver(0x44, "04912143", 0x00, 0, ""),        // a header flag with no data
        Deliver(0x44, "04912143", 0x00, 1, "05"),      // a header longer than the septets
        "04"
        "FF91" +
            std::string(20, '1'),  // an address past the end
    };
    for (const std::string& pdu : refused) {
        EXPECT_FALSE(DecodePdu(pdu, 0)) << pdu;
        EXPECT_FALSE(DecodePdu(pdu, 1)) << pdu;
    }
}

TEST(DeliverPdu, SenderTypes)
{
    std::string alphanumeric;
    EncodeGsm7(u"Test", alphanumeric);
    const struct {
        std::string part;
        std::u16string sender;
    } cases[] = {
        {"099121436587F9", u"+123456789"},
        {"0A811032547698", u"0123456789"},
        {"0AA11032547698", u"0123456789"},
        {"05812143F6", u"12346"},
        {"04C1BADC", u"*#ab"},
        {"08D0" + Hex(PackSeptetsAt(alphanumeric, 0)), u"Test"},
        {"0091", u"+"},
    };
    for (const auto& c : cases) {
        auto d = DecodePdu(Deliver(0x04, c.part, 0x00, 2, "E834"), 1);
        ASSERT_TRUE(d) << c.part;
        EXPECT_EQ(d->address, c.sender) << c.part;
        EXPECT_EQ(d->text, u"hi") << c.part;
    }
}

TEST(DeliverPdu, SeptetsAreCountedNotGuessed)
{
    // The seven fill bits after seven septets, and a real "@" (code 0) in
    // the eighth or sixteenth place, differ only in the announced length.
    const std::u16string texts[] = {u"abcdefg", u"abcdefg@", u"abcdefg@x", u"abcdefghijklmno@", u"@", u"@@@@@@@@",
                                    u"",        u"{€}\f^",   u"\r\n"};
    for (const auto& text : texts) {
        auto d = DecodePdu(Gsm7Deliver(text), 1);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->text, text);
    }
}

TEST(DeliverPdu, CodingSchemes)
{
    const struct {
        unsigned dcs;
        Coding coding;
    } cases[] = {
        {0x00, Coding::Gsm7},     {0x01, Coding::Gsm7},     {0x10, Coding::Gsm7}, {0xF0, Coding::Gsm7},
        {0xF3, Coding::Gsm7},     {0xC0, Coding::Gsm7},     {0xD8, Coding::Gsm7}, {0x04, Coding::EightBit},
        {0xF4, Coding::EightBit}, {0x24, Coding::EightBit}, {0x08, Coding::Ucs2}, {0x18, Coding::Ucs2},
        {0x48, Coding::Ucs2},     {0xE0, Coding::Ucs2},
    };
    for (const auto& c : cases) {
        std::string ud = c.coding == Coding::Gsm7 ? "E834" : "00680069";
        unsigned udl = c.coding == Coding::Gsm7 ? 2 : 4;
        auto d = DecodePdu(Deliver(0x04, "04912143", c.dcs, udl, ud), 1);
        ASSERT_TRUE(d) << c.dcs;
        EXPECT_EQ(d->coding, c.coding) << c.dcs;
        std::u16string expect = c.coding == Coding::Gsm7   ? u"hi"
                                : c.coding == Coding::Ucs2 ? u"hi"
                                                           : std::u16string{0, u'h', 0, u'i'};
        EXPECT_EQ(d->text, expect) << c.dcs;
    }
}

TEST(DeliverPdu, Ucs2KeepsSurrogatePairsAndAnOddOctetIsDropped)
{
    // "Жx😀" in UTF-16: 0416 0078 D83D DE00.
    auto d = DecodePdu(Deliver(0x04, "04912143", 0x08, 8, "04160078D83DDE00"), 1);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->text, u"Жx😀");
    d = DecodePdu(Deliver(0x04, "04912143", 0x08, 3, "041600"), 1);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->text, u"Ж");
}

TEST(DeliverPdu, UserDataHeaders)
{
    const struct {
        std::string header;  // with its length octet
        std::optional<Concatenation> concatenation;
    } cases[] = {
        {"050003A70302", Concatenation{0xA7, false, 3, 2}},
        {"06080412340201", Concatenation{0x1234, true, 2, 1}},
        {"0B0504158200000003110101", Concatenation{0x11, false, 1, 1}},  // a port element first
        {"050003A70304", std::nullopt},                                  // part 4 of 3
        {"050003A70001", std::nullopt},                                  // of no parts
        {"060004A7030201", std::nullopt},                                // a length the element does not have
        {"0400050003", std::nullopt},                                    // an element running past the header
        {"00", std::nullopt},                                            // an empty header
    };
    for (const auto& c : cases) {
        for (bool ucs2 : {false, true}) {
            std::string pdu = ucs2 ? Deliver(0x44, "04912143", 0x08, static_cast<unsigned>(c.header.size() / 2 + 4),
                                             c.header + "00680069")
                                   : Gsm7Deliver(u"hi there", c.header);
            auto d = DecodePdu(pdu, 1);
            ASSERT_TRUE(d) << c.header;
            EXPECT_EQ(d->text, ucs2 ? u"hi" : u"hi there") << c.header;
            EXPECT_EQ(d->header, c.header.substr(2)) << c.header;
            ASSERT_EQ(d->concatenation.has_value(), c.concatenation.has_value()) << c.header;
            if (c.concatenation) {
                EXPECT_EQ(d->concatenation->reference, c.concatenation->reference);
                EXPECT_EQ(d->concatenation->sixteenBit, c.concatenation->sixteenBit);
                EXPECT_EQ(d->concatenation->total, c.concatenation->total);
                EXPECT_EQ(d->concatenation->sequence, c.concatenation->sequence);
            }
        }
    }
}

TEST(DeliverPdu, SubmitsAreReadWithEveryValidityFormat)
{
    // First octet 01 | VPF << 3; the validity takes 0, 7, 1 or 7 octets.
    const struct {
        unsigned first;
        std::string validity;
    } cases[] = {{0x01, ""}, {0x09, "00000000000000"}, {0x11, "AA"}, {0x19, kStamp}};
    for (const auto& c : cases) {
        std::string pdu = "00" + HexOctet(c.first) +
                          "00"
                          "04912143"
                          "0000" +
                          c.validity + "02E834";
        auto d = DecodePdu(pdu, 0);
        ASSERT_TRUE(d) << pdu;
        EXPECT_TRUE(d->submit);
        EXPECT_EQ(d->address, u"+1234");
        EXPECT_EQ(d->text, u"hi");
    }
}

TEST(DeliverPdu, RandomInputIsReadSafelyAndNeverYieldsMoreThanItHolds)
{
    std::mt19937 rng(7);
    const std::string hexDigits = "0123456789ABCDEFabcdef";
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        for (int k = 0, n = static_cast<int>(rng() % 120); k < n; ++k)
            s += i % 4 ? hexDigits[rng() % hexDigits.size()] : static_cast<char>(rng() % 256);
        if (auto d = DecodePdu(s, static_cast<std::uint16_t>(rng() % 2))) {
            ASSERT_LE(d->text.size(), s.size());
            ASSERT_LE(d->address.size(), s.size());
        }
    }
}

}  // namespace
