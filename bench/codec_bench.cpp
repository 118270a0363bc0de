// Cost of the per-record conversions: one 77-byte record through each.
#include <benchmark/benchmark.h>

#include <string_view>

#include "plu/plu_line.hpp"

namespace {

using namespace ktnet;

constexpr std::string_view line =
    "3 T 07 xx012345 NAME-OF-ARTICLE 24 CHARS 121212 x 121212 121212 121212 121212 12 12 7 7 12 "
    "7 7 42 42 121212 121212 12 42 12121212121212 12 7\r";

FrameBuffer record_frame() {
    RecordFrame record{};
    (void)parse_line(line, record);
    FrameBuffer raw{};
    build_store_frame(0x87, record, raw);
    raw[40] = 0x7C;  // a few bytes that need escaping
    raw[41] = 0x7E;
    checksum(record_frame_length, raw);
    return raw;
}

void BM_format_line(benchmark::State& state) {
    const FrameBuffer raw = record_frame();
    const std::span<const std::uint8_t, record_frame_length> record(raw.data(),
                                                                    record_frame_length);
    for (auto _ : state)
        benchmark::DoNotOptimize(format_line(ScaleAddress::parse("3T7").value(), record));
}
BENCHMARK(BM_format_line);

void BM_parse_line(benchmark::State& state) {
    RecordFrame record{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_line(line, record));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_parse_line);

void BM_escape(benchmark::State& state) {
    const FrameBuffer raw = record_frame();
    FrameBuffer escaped{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(escape(record_frame_length, raw, escaped));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_escape);

void BM_unescape(benchmark::State& state) {
    const FrameBuffer raw = record_frame();
    FrameBuffer escaped{}, back{};
    escape(record_frame_length, raw, escaped);
    for (auto _ : state) {
        benchmark::DoNotOptimize(unescape(escaped, back));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_unescape);

}  // namespace

BENCHMARK_MAIN();
