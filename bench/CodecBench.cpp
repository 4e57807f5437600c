// Encode and decode time per message for the GSM codec.
#include "devices/gsm/DeliverPdu.h"
#include "devices/gsm/SubmitPdu.h"

#include <benchmark/benchmark.h>

namespace {

const std::string kText160(160, 'x');

void EncodeFull(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(velmo::gsm::EncodeSubmitPdu("+491711234567", kText160, 0));
}
BENCHMARK(EncodeFull);

void DecodeFull(benchmark::State& state)
{
    std::string submit = velmo::gsm::EncodeSubmitPdu("+491711234567", kText160, 1);
    std::string deliver = "0791941700000000040C91941711325476" "0000" "20301291450040" +
                          submit.substr(submit.find("0000AA") + 6);
    std::string sender, text;
    for (auto _ : state) {
        velmo::gsm::DecodeDeliverPdu(deliver, sender, text, 0);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(DecodeFull);

} // namespace

BENCHMARK_MAIN();
