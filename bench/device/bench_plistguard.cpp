// How long the frame guard takes: to refuse each hostile frame a phone may send (alone, and as
// the session's decode of a frame), and to pass a real phone's records of 2000 contacts with
// photos, binary and XML.
#include <benchmark/benchmark.h>

#include <plist/plist.h>

#include <string>

#include "platform/mobilesync/devicelink.h"
#include "platform/mobilesync/plistguard.h"
#include "tests/fakedevice/fakedevice.h"

namespace {

using fakedevice::HostileFrame;

void refuse(benchmark::State& state, HostileFrame kind) {
    const std::string bytes = fakedevice::hostileFrameBytes(kind);
    for (auto _ : state) {
        const std::string why = plistguard::check(bytes.data(), bytes.size());
        if (why.empty())
            state.SkipWithError("the hostile frame passed");
        benchmark::DoNotOptimize(why);
    }
}

void decode(benchmark::State& state, HostileFrame kind) {
    const std::string bytes = fakedevice::hostileFrameBytes(kind);
    for (auto _ : state) {
        plist_t message = nullptr;
        std::string why;
        const int rc =
            devicelink::Connection::decodeFrame(bytes.data(), bytes.size(), &message, &why);
        if (message) {
            plist_free(message);
            state.SkipWithError("the hostile frame was decoded");
        }
        benchmark::DoNotOptimize(rc);
    }
}

void passRecords(benchmark::State& state, bool binary) {
    fakedevice::Phone phone(fakedevice::makeUdid(9));
    phone.generateContacts(2000);
    const fakedevice::Plist records = phone.records();
    const std::string bytes = binary ? records.toBinary() : records.toXml();
    for (auto _ : state) {
        const std::string why = plistguard::check(bytes.data(), bytes.size());
        if (!why.empty())
            state.SkipWithError(why.c_str());
        benchmark::DoNotOptimize(why);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

}  // namespace

BENCHMARK_CAPTURE(refuse, Nested, HostileFrame::Nested)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refuse, SharedReferences, HostileFrame::SharedReferences)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refuse, NulString, HostileFrame::NulString)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, Nested, HostileFrame::Nested)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, SharedReferences, HostileFrame::SharedReferences)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decode, NulString, HostileFrame::NulString)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(passRecords, Binary2000, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(passRecords, Xml2000, false)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
