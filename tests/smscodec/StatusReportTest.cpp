#include "smscodec/ReceivedPdu.h"
#include "smscodec/StatusReport.h"
#include "smscodec/SubmitPdu.h"

#include <gtest/gtest.h>

namespace {

using namespace velmo::sms;

// Reference 17 to +491717213456, taken 2026-09-09 10:00:00 (+02:00),
// discharged at 10:00:30, TP-ST as given: first octet 06 (TP-MMS set).
const std::string kRecipient = "0C91947171124365";
const std::string kTaken = "62909001000080";
const std::string kDischarged = "62909001000380";

std::string Report(const std::string& status, const std::string& tail = "", const std::string& first = "06")
{
    return first + "11" + kRecipient + kTaken + kDischarged + status + tail;
}

struct Case {
    const char* name;
    std::string pdu;
    std::uint16_t noSmsc;
    bool reads;
    unsigned status;
};

TEST(StatusReport, ReadsEveryFieldWithAndWithoutTheCentrePartAndItsOptionalTail)
{
    const Case cases[] = {
        {"no centre part", Report("00"), 1, true, 0x00},
        {"an empty centre part", "00" + Report("00"), 0, true, 0x00},
        {"a centre part", "07911326040000F0" + Report("46"), 0, true, 0x46},
        {"the centre part guessed the other way", Report("21"), 0, true, 0x21},
        {"TP-PI without fields", Report("00", "00"), 1, true, 0x00},
        {"TP-PI with PID, DCS and 7-bit user data", Report("00", "0700000331D90C"), 1, true, 0x00},
        {"TP-PI with 8-bit user data", Report("40", "06040201FF"), 1, true, 0x40},
        {"lower-case hex", "00" + std::string("06110c91947171124365") + kTaken + kDischarged + "00", 0, true, 0},
        {"user data shorter than TP-PI says", Report("00", "0700000531D90C"), 1, false, 0},
        {"an octet after TP-PI's fields", Report("00", "0000"), 1, false, 0},
        {"cut before TP-ST", Report(""), 1, false, 0},
        {"cut in the discharge time", Report("").substr(0, 36), 1, false, 0},
        {"an SMS-DELIVER", Report("00", "", "04"), 1, false, 0},
        {"an SMS-SUBMIT", Report("00", "", "01"), 1, false, 0},
        {"not hex", Report("0G"), 1, false, 0},
        {"an odd count of digits", Report("000"), 1, false, 0},
        {"empty", "", 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<StatusReport> r = DecodeStatusReport(c.pdu, c.noSmsc);
        ASSERT_EQ(r.has_value(), c.reads);
        if (!r)
            continue;
        EXPECT_EQ(r->reference, 17u);
        EXPECT_EQ(r->recipient, u"+491717213456");
        EXPECT_EQ(r->status, c.status);
        EXPECT_FALSE(r->ofCommand);
        EXPECT_TRUE(r->submitted.valid);
        EXPECT_EQ(r->submitted.offsetMinutes, 120);
        EXPECT_EQ(r->discharged.second, 30);
        // 2026-09-09 10:00:00 at +02:00 is 08:00:00 UTC.
        EXPECT_EQ(r->submitted.UnixSeconds(), 1788940800);
        EXPECT_EQ(r->discharged.UnixSeconds() - r->submitted.UnixSeconds(), 30);
    }
}

TEST(StatusReport, APduOfBothTypesIsReadTheWayTheSettingPrefers)
{
    // A report after an empty centre part; without the part, "00" is the
    // first octet of an SMS-DELIVER that happens to fit to the last octet.
    const std::string pdu = "0006360E9171170397539105235081105083863180913250348A21030000";
    ASSERT_TRUE(DecodePdu(pdu, 0));  // the message reader alone takes it, the other way
    ReceivedPdu preferred = DecodeReceived(pdu, 0);
    ASSERT_TRUE(preferred.report);
    EXPECT_FALSE(preferred.message);
    EXPECT_EQ(preferred.report->reference, 0x36u);
    ReceivedPdu without = DecodeReceived(pdu, 1);
    EXPECT_TRUE(without.message);
    EXPECT_FALSE(without.report);
    // A message and a report each read alone, whichever reading is preferred.
    for (std::uint16_t noSmsc : {0, 1}) {
        EXPECT_TRUE(DecodeReceived("069121436587F904099121436587F90000203012914500400361F118", noSmsc).message);
        EXPECT_TRUE(DecodeReceived(Report("00"), noSmsc).report);
        ReceivedPdu neither = DecodeReceived("0611", noSmsc);
        EXPECT_FALSE(neither.message || neither.report);
    }
}

TEST(StatusReport, TimeStampsKeepTheirZoneAndBadDigitsAreNotADate)
{
    struct TimeCase {
        const char* name;
        std::string stamp;
        bool valid;
        int offset;
        std::int64_t unix;
    };
    const TimeCase cases[] = {
        {"UTC", "62909001000000", true, 0, 1788948000},
        {"three hours west: the sign bit", "62909001000029", true, -180, 1788948000 + 3 * 3600},
        {"29 February of a leap year", "82209200000000", true, 0, 1835395200},
        {"29 February of another year", "72209200000000", false, 0, 0},
        {"month 13", "62319001000000", false, 0, 0},
        {"a hex digit", "6290900100A000", false, 0, 0},
        {"second 60", "62909001000600", false, 0, 0},
    };
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string pdu = "0611" + kRecipient + c.stamp + kDischarged + "00";
        std::optional<StatusReport> r = DecodeStatusReport(pdu, 1);
        ASSERT_TRUE(r);  // a time that is no date leaves the report readable
        EXPECT_EQ(r->submitted.valid, c.valid);
        EXPECT_EQ(r->submitted.offsetMinutes, c.offset);
        EXPECT_EQ(r->submitted.UnixSeconds(), c.unix);
    }
}

TEST(StatusReport, TheStatusSaysDeliveredPendingOrFailedInWords)
{
    struct Meaning {
        unsigned status;
        Delivery delivery;
        const char* words;
    };
    const Meaning table[] = {
        {0x00, Delivery::Delivered, "Short message received by the SME"},
        {0x02, Delivery::Delivered, "Short message replaced by the SC"},
        {0x05, Delivery::Delivered, "A reserved value (transaction completed)"},
        {0x1F, Delivery::Delivered, "A value specific to the SC (transaction completed)"},
        {0x21, Delivery::Pending, "SME busy"},
        {0x3F, Delivery::Pending, "A value specific to the SC (temporary error, the SC still tries)"},
        {0x40, Delivery::Failed, "Remote procedure error"},
        {0x46, Delivery::Failed, "SM Validity Period Expired"},
        {0x62, Delivery::Failed, "No response from SME; the SC makes no more attempts"},
        {0x7F, Delivery::Failed, "A value specific to the SC (temporary error, the SC makes no more attempts)"},
        {0x80, Delivery::Failed, "A reserved value"},
    };
    for (const Meaning& m : table) {
        SCOPED_TRACE(m.status);
        EXPECT_EQ(DeliveryOf(m.status), m.delivery);
        EXPECT_EQ(StatusMeaning(m.status), m.words);
    }
}

TEST(Validity, ThePeriodIsRoundedUpToWhatTheOctetCanSay)
{
    constexpr std::uint64_t m = 60, h = 3600, d = 86400, w = 7 * d;
    const std::pair<std::uint64_t, unsigned> table[] = {
        {0, 0},
        {5 * m, 0},
        {5 * m + 1, 1},
        {30 * m, 5},
        {12 * h, 143},
        {12 * h + 1, 144},
        {13 * h, 145},
        {24 * h, 167},
        {24 * h + 1, 168},
        {2 * d, 168},
        {4 * d, 0xAA},
        {30 * d, 196},
        {30 * d + 1, 197},
        {5 * w, 197},
        {63 * w, 255},
        {63 * w + 1, 255},
        {~std::uint64_t{0}, 255},
    };
    for (auto [seconds, octet] : table) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(ValidityOctet(seconds), octet);
    }
    for (unsigned octet = 0; octet < 256; ++octet) {
        SCOPED_TRACE(octet);
        EXPECT_EQ(ValidityOctet(ValiditySeconds(octet)), octet);  // each octet's own period gives it back
        if (octet > 0) {
            EXPECT_GT(ValiditySeconds(octet), ValiditySeconds(octet - 1));
        }
    }
}

TEST(Validity, TheSubmitCarriesTheReportRequestAndTheValidityAsked)
{
    SubmitOptions options;
    options.statusReport = true;
    options.validity = ValidityOctet(30 * 60);
    SubmitMessage one = EncodeSubmit("+4917", u"hi", options);
    EXPECT_EQ(one.pdus[0].substr(0, 4), "0031");  // TP-SRR beside TP-MTI and TP-VPF
    EXPECT_EQ(one.pdus[0].substr(18, 2), "05");   // after reference, number, PID and DCS
    options.maxParts = 3;
    SubmitMessage three = EncodeSubmit("+4917", std::u16string(400, u'x'), options);
    ASSERT_EQ(three.pdus.size(), 3u);
    for (const std::string& pdu : three.pdus)
        EXPECT_EQ(pdu.substr(0, 4), "0071");  // and TP-UDHI
    EXPECT_EQ(EncodeSubmit("+4917", u"hi", SubmitOptions{}).pdus[0].substr(0, 4), "0011");
    EXPECT_EQ(EncodeSubmit("+4917", u"hi", SubmitOptions{}).pdus[0].substr(18, 2), "AA");
}

}  // namespace
