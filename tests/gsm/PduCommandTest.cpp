#include "tools/velmo/PduCommand.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome Pdu(std::vector<std::string> args)
{
    std::ostringstream out, err;
    int code = velmo::cli::PduCommand(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(PduCommand, EncodeAndDecodeTheExamples)
{
    Outcome e = Pdu({"encode", "+123456789", "abc"});
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.out, "001100099121436587F90000AA0361F118\n16\n");
    e = Pdu({"encode", "--nosmsc", "+123456789", "abc"});
    EXPECT_EQ(e.out, "1100099121436587F90000AA0361F118\n16\n");
    Outcome d = Pdu({"decode", "069121436587F904099121436587F90000203012914500400361F118"});
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.out, "+123456789\nabc\n");
}

TEST(PduCommand, TextGoesThroughTheDeviceChain)
{
    // "Grüße €": ü and ß are in the alphabet; € is in Windows-1252 but not GSM.
    Outcome e = Pdu({"encode", "+1", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"});
    ASSERT_EQ(e.code, 0);
    std::string pdu = e.out.substr(0, e.out.find('\n'));
    std::string deliver = "04" "0191F1" "0000" "20301291450040" + pdu.substr(pdu.find("0000AA") + 6);
    Outcome d = Pdu({"decode", deliver});
    EXPECT_EQ(d.out, "+1\nGr\xC3\xBC\xC3\x9F" "e ?\n");
}

TEST(PduCommand, UsageErrorsExitTwoWithOneLine)
{
    const std::vector<std::vector<std::string>> bad = {
        {}, {"encode"}, {"encode", "+1"}, {"encode", "+1", "a", "b"}, {"decode"}, {"decode", "a", "b"},
        {"decode", "--bogus", "00"}, {"frobnicate"}, {"encode", "", "x"},
    };
    for (const auto& args : bad) {
        Outcome r = Pdu(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(Pdu({"decode", "not hex at all"}).code, 0) << "the decoder rejects nothing";
}

} // namespace
