#include "devices/gsm/DeliverPdu.h"
#include "devices/gsm/GsmAlphabet.h"
#include "devices/gsm/SubmitPdu.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace velmo::gsm;

const std::string kExample = "069121436587F904099121436587F90000203012914500400361F118";

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

// A DELIVER without SMSC part from first octet 04, with this sender part, DCS and text.
std::string Deliver(const std::string& senderPart, const std::string& dcs, const std::string& latinText)
{
    std::string codes = latinText;
    LatinToGsm(codes);
    char udl[3];
    std::snprintf(udl, sizeof udl, "%02X", static_cast<unsigned>(codes.size()));
    return "04" + senderPart + "00" + dcs + "20301291450040" + udl + Hex(PackSeptets(codes));
}

TEST(DeliverPdu, Examples)
{
    std::string sender, text;
    ASSERT_TRUE(DecodeDeliverPdu(kExample, sender, text, 0));
    EXPECT_EQ(sender, "+123456789");
    EXPECT_EQ(text, "abc");
    std::string noSmscPart = kExample.substr(14);
    for (std::uint16_t flag : {0, 1}) {
        ASSERT_TRUE(DecodeDeliverPdu(noSmscPart, sender, text, flag));
        EXPECT_EQ(sender, "+123456789") << flag;
        EXPECT_EQ(text, "abc") << flag;
    }
}

TEST(DeliverPdu, WellFormedOnlyWhenEveryAnnouncedFieldIsThere)
{
    EXPECT_TRUE(DeliverPduWellFormed(kExample, 0));
    EXPECT_TRUE(DeliverPduWellFormed(kExample.substr(14), 1));
    EXPECT_FALSE(DeliverPduWellFormed(kExample.substr(14), 0));  // its first octet read as a service-centre length
    for (std::size_t cut = 0; cut < kExample.size(); ++cut)
        EXPECT_FALSE(DeliverPduWellFormed(kExample.substr(0, cut), 0)) << cut;
    EXPECT_TRUE(DeliverPduWellFormed("00" + kExample.substr(14), 0));  // an empty service-centre part
    std::string lower = kExample;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(DeliverPduWellFormed(lower, 0));
    EXPECT_FALSE(DeliverPduWellFormed("07FF", 0));
    EXPECT_FALSE(DeliverPduWellFormed(kExample.substr(0, 20) + "ZZ" + kExample.substr(22), 0));
    std::string submit = kExample;
    submit[15] = '5';  // first octet 05: message type 1, an SMS-SUBMIT
    EXPECT_FALSE(DeliverPduWellFormed(submit, 0));
    // Eight-bit data counts its length in octets: 3 announced, 3 there, then 4 announced.
    std::string eightBit = "04" "0B9194711234567F" "00" "04" "20301291450040" "03" "414243";
    EXPECT_TRUE(DeliverPduWellFormed(eightBit, 1));
    EXPECT_FALSE(DeliverPduWellFormed(eightBit.substr(0, eightBit.size() - 8) + "04414243", 1));
}

TEST(DeliverPdu, EmptyIsFalseAndClearsOutputs)
{
    std::string sender = "old", text = "old";
    EXPECT_FALSE(DecodeDeliverPdu("", sender, text, 0));
    EXPECT_EQ(sender, "");
    EXPECT_EQ(text, "");
    EXPECT_TRUE(DecodeDeliverPdu("zz", sender, text, 0));
}

struct SenderCase {
    const char* part;
    const char* sender;
};

TEST(DeliverPdu, SenderTypes)
{
    const SenderCase cases[] = {
        {"099121436587F9", "+123456789"},
        {"0A811032547698", "0123456789"},
        {"0AA11032547698", "0123456789"},
        {"05812143F6", "12346"},
    };
    // Alphanumeric "Test": four letters packed.
    std::string codes = "Test";
    std::string alnum = "08D0" + Hex(PackSeptets(codes));
    std::string sender, text;
    for (const auto& c : cases) {
        ASSERT_TRUE(DecodeDeliverPdu(Deliver(c.part, "00", "hi"), sender, text, 0));
        EXPECT_EQ(sender, c.sender) << c.part;
        EXPECT_EQ(text, "hi") << c.part;
    }
    ASSERT_TRUE(DecodeDeliverPdu(Deliver(alnum, "00", "hi"), sender, text, 0));
    EXPECT_EQ(sender, "Test");
    EXPECT_EQ(text, "hi");
}

TEST(DeliverPdu, FillerAndTheLostCommercialAt)
{
    std::string sender, text;
    ASSERT_TRUE(DecodeDeliverPdu(Deliver("04912143", "00", "abcdefg"), sender, text, 0));
    EXPECT_EQ(text, "abcdefg") << "seven filler bits add no character";
    ASSERT_TRUE(DecodeDeliverPdu(Deliver("04912143", "00", "abcdefg@x"), sender, text, 0));
    EXPECT_EQ(text, "abcdefgx") << "a commercial at eighth in a group is lost";
    ASSERT_TRUE(DecodeDeliverPdu(Deliver("04912143", "00", "abcdefgh@"), sender, text, 0));
    EXPECT_EQ(text, "abcdefgh@") << "a ninth one is kept";
}

TEST(DeliverPdu, CodingSchemes)
{
    std::string sender, text;
    for (const char* dcs : {"00", "01", "10", "F0", "F3", "C0", "20"}) {
        ASSERT_TRUE(DecodeDeliverPdu(Deliver("04912143", dcs, "hello"), sender, text, 0));
        EXPECT_EQ(text, "hello") << dcs;
    }
    for (const char* dcs : {"04", "08", "F4", "0C"}) {
        ASSERT_TRUE(DecodeDeliverPdu(Deliver("04912143", dcs, "hello"), sender, text, 0));
        EXPECT_EQ(text, "") << dcs;
    }
}

TEST(DeliverPdu, ShortServiceCentreLengthIsTakenAsTheFirstOctet)
{
    // "00" first: read as the first octet, so "04" is then the sender length.
    std::string sender, text;
    ASSERT_TRUE(DecodeDeliverPdu("0004" "81" "2143" "0000" "02" "E834", sender, text, 0));
    EXPECT_EQ(sender, "1234");
    // Fewer than 15 characters after the DCS: no time stamp is skipped.
    EXPECT_EQ(text, "hi");
}

TEST(DeliverPdu, ReadHexOctetRules)
{
    struct Case {
        const char* s;
        int value;
    } cases[] = {{"1F", 0x1F}, {"af", 0xAF}, {"G5", 5}, {"5G", 0}, {"5", 0}, {"", 0}};
    for (const auto& c : cases) {
        std::size_t pos = 0;
        EXPECT_EQ(ReadHexOctet(c.s, pos), c.value) << c.s;
        EXPECT_EQ(pos, 2u);
    }
}

TEST(DeliverPdu, EveryTruncationAndRandomInputIsSafe)
{
    std::string sender, text;
    for (std::size_t n = 0; n <= kExample.size(); ++n)
        EXPECT_EQ(DecodeDeliverPdu(kExample.substr(0, n), sender, text, 0), n > 0);
    std::mt19937 rng(7);
    const std::string hexDigits = "0123456789ABCDEFabcdef";
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        for (int k = 0, n = static_cast<int>(rng() % 80); k < n; ++k)
            s += i % 2 ? hexDigits[rng() % hexDigits.size()] : static_cast<char>(rng() % 256);
        DecodeDeliverPdu(s, sender, text, static_cast<std::uint16_t>(rng() % 2));
        ASSERT_LE(text.size(), s.size());
    }
}

TEST(DeliverPdu, UnpackingWhatWasPackedGivesTheCodesBackExceptWhereLost)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        std::string codes;
        for (int k = 0, n = static_cast<int>(rng() % 161); k < n; ++k)
            codes += static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 128);
        std::string hex = Hex(PackSeptets(codes));
        std::size_t pos = 0;
        std::string back = UnpackSeptets(hex, pos, hex.size());
        std::string expect;
        for (std::size_t k = 0; k < codes.size(); ++k)
            if (!(k % 8 == 7 && codes[k] == 0))
                expect += codes[k];
        EXPECT_EQ(back, expect);
    }
}

} // namespace
