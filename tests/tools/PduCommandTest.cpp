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
    Outcome e = Pdu({"encode", "+1",
                     "Gr\xC3\xBC\xC3\x9F"
                     "e \xE2\x82\xAC"});
    ASSERT_EQ(e.code, 0);
    std::string pdu = e.out.substr(0, e.out.find('\n'));
    std::string deliver = "04"
                          "0191F1"
                          "0000"
                          "20301291450040" +
                          pdu.substr(pdu.find("0000AA") + 6);
    Outcome d = Pdu({"decode", deliver});
    EXPECT_EQ(d.out, "+1\nGr\xC3\xBC\xC3\x9F"
                     "e ?\n");
}

TEST(PduCommand, AReportRequestGoesOutAndAReportIsReadBack)
{
    Outcome e = Pdu({"encode", "--report", "--validity", "30m", "+123456789", "abc"});
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.out, "003100099121436587F900000503"
                     "61F118\n16\n");
    Outcome d = Pdu({"decode", "07919471000000F0"
                               "0611"
                               "0C91947171124365"
                               "62909001000080"
                               "62909001000380"
                               "21"});
    EXPECT_EQ(d.code, 0) << d.err;
    EXPECT_EQ(d.out, "SMS-STATUS-REPORT\nreference 17\nrecipient +491717213456\n"
                     "submitted 2026-09-09 10:00:00 +02:00\ndischarged 2026-09-09 10:00:30 +02:00\n"
                     "status 0x21 pending: SME busy\n");
}

TEST(PduCommand, UsageErrorsExitTwoWithOneLine)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"encode"},
        {"encode", "+1"},
        {"encode", "+1", "a", "b"},
        {"decode"},
        {"decode", "a", "b"},
        {"decode", "--bogus", "00"},
        {"frobnicate"},
        {"encode", "", "x"},
        {"encode", "--parts", "0", "+1", "x"},
        {"encode", "--parts", "256", "+1", "x"},
        {"encode", "--parts", "3x", "+1", "x"},
        {"encode", "+1", "x", "--parts"},
        {"decode", "--full", "00"},
        {"encode", "--validity", "soon", "+1", "x"},
        {"encode", "+1", "x", "--validity"},
        {"decode", "--report", "00"},
    };
    for (const auto& args : bad) {
        Outcome r = Pdu(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const char* pdu : {"not hex at all", "0791", "069121436587F904099121436587F90000203012914500400361F11800"}) {
        Outcome r = Pdu({"decode", pdu});
        EXPECT_EQ(r.code, 1) << pdu;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
}

TEST(PduCommand, PartsOnePerLineAndTheirHeadersDecoded)
{
    // 80 Cyrillic letters: UCS2 in two parts of 67 and 13.
    std::string text;
    for (int i = 0; i < 80; ++i)
        text += "\xD0\x96";  // Ж
    Outcome e = Pdu({"encode", "--full", "--parts", "4", "+1", text});
    ASSERT_EQ(e.code, 0) << e.err;
    EXPECT_EQ(e.err, "");
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = e.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(e.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 2u);
    for (int part = 1; part <= 2; ++part) {
        const std::string& line = lines[part - 1];
        std::string pdu = line.substr(0, line.find('\t'));
        EXPECT_EQ(line.substr(line.find('\t') + 1), std::to_string(pdu.size() / 2 - 1));
        Outcome d = Pdu({"decode", pdu});
        ASSERT_EQ(d.code, 0);
        std::string expect = "+1\n";
        for (int i = 0; i < (part == 1 ? 67 : 13); ++i)
            expect += "\xD0\x96";
        expect += "\nSMS-SUBMIT, UCS2\nheader 000300020" + std::to_string(part) + ": part " + std::to_string(part) +
                  " of 2, reference 0\n";
        EXPECT_EQ(d.out, expect);
    }
    Outcome cut = Pdu({"encode", "--parts", "1", "+1", std::string(200, 'x')});
    ASSERT_EQ(cut.code, 0);
    EXPECT_EQ(cut.err, "velmo pdu: the text was cut to fit 1 part(s)\n");
    EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'), 1);
}

}  // namespace
