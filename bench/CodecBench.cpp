// Encode and decode time for the GSM codec: a 160-character text in one
// 7-bit part (the legacy 8-bit path and the full alphabet), and a
// 1,000-character text in UCS2 (Cyrillic with an emoji) as its 15 parts.
// The target for the long text is under 20 µs each way. Also the reading
// of a status report (with a centre part, a parameter indicator and user
// data); its target is under 5 µs.
#include "smscodec/DeliverPdu.h"
#include "smscodec/StatusReport.h"
#include "smscodec/SubmitPdu.h"

#include <benchmark/benchmark.h>

namespace {

using namespace velmo::sms;

const std::string kNumber = "+491711234567";
const std::string kText160(160, 'x');

std::u16string LongUcs2Text()
{
    std::u16string text;
    while (text.size() < 998)
        text += u"Привет, мир! ";
    text.resize(998);
    return text + u"😀";
}

void Encode160Legacy(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeSubmitPdu(kNumber, kText160, 0));
}
BENCHMARK(Encode160Legacy);

void Encode160Full(benchmark::State& state)
{
    const std::u16string text(160, u'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeSubmit(kNumber, text, {0, true, 255, 7}));
}
BENCHMARK(Encode160Full);

void Decode160(benchmark::State& state)
{
    const std::string pdu = EncodeSubmit(kNumber, std::u16string(160, u'x'), {0, true, 1, 0}).pdus[0];
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePdu(pdu, 0));
}
BENCHMARK(Decode160);

void Encode1000Ucs2(benchmark::State& state)
{
    const std::u16string text = LongUcs2Text();
    for (auto _ : state) {
        SubmitMessage m = EncodeSubmit(kNumber, text, {0, true, 255, 7});
        benchmark::DoNotOptimize(m);
    }
    state.counters["parts"] = static_cast<double>(EncodeSubmit(kNumber, text, {0, true, 255, 7}).pdus.size());
}
BENCHMARK(Encode1000Ucs2)->Unit(benchmark::kMicrosecond);

void Decode1000Ucs2(benchmark::State& state)
{
    const SubmitMessage m = EncodeSubmit(kNumber, LongUcs2Text(), {0, true, 255, 7});
    for (auto _ : state) {
        std::u16string text;
        for (const std::string& pdu : m.pdus)
            text += DecodePdu(pdu, 0)->text;
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(Decode1000Ucs2)->Unit(benchmark::kMicrosecond);

void DecodeReport(benchmark::State& state)
{
    const std::string pdu = "07919471000000F00611"
                            "0C91947171124365"
                            "62909001000080"
                            "62909001000380"
                            "00"
                            "0700000331D90C";
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeStatusReport(pdu, 0));
}
BENCHMARK(DecodeReport);

}  // namespace

BENCHMARK_MAIN();
