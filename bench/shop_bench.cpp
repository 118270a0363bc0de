// ktnet's shop jobs in-process against the simulated controller: backup and load of several
// scales over a link of 8 ms per exchange (their ratio to that floor), the reads --verify
// costs, and compare of two 10000-record files.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "ktnet/backup.hpp"
#include "ktnet/compare.hpp"
#include "ktnet/load.hpp"
#include "link/little_endian.hpp"
#include "plu/plu_line.hpp"
#include "sim/sim_port.hpp"

namespace {

using namespace ktnet;

constexpr std::chrono::milliseconds link_floor{8};
constexpr std::uint32_t records_per_scale = 200;

class Folder {
public:
    explicit Folder(const char* name) : path_(std::filesystem::temp_directory_path() / name) {
        std::filesystem::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string operator/(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

ScaleAddress scale_number(unsigned n) {
    return *ScaleAddress::make(1, 'S', n);
}

RecordFrame random_record(std::mt19937& rng, std::uint32_t plu) {
    RecordFrame frame{};
    for (auto& b : frame) b = static_cast<std::uint8_t>(rng() % 10);
    write_le24(plu, std::span<std::uint8_t, 3>(frame.data() + record_plu_index, 3));
    for (std::size_t i = name_frame_byte; i < name_frame_byte + name_length; ++i)
        frame[i] = static_cast<std::uint8_t>('A' + rng() % 26);
    return frame;
}

// A PLU file of records 1..count as the reader writes it.
std::string plu_file(std::uint32_t count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string file;
    for (std::uint32_t plu = 1; plu <= count; ++plu) {
        for (const std::uint8_t b : format_line(scale_number(1), random_record(rng, plu))) {
            if (b == '\n') file += '\r';
            file += static_cast<char>(b);
        }
    }
    return file;
}

// A shop of N scales of records_per_scale records behind an 8 ms link.
struct Shop {
    explicit Shop(unsigned scales) {
        std::mt19937 rng(scales);
        for (unsigned n = 1; n <= scales; ++n) {
            auto& records = controller.add_scale(scale_number(n)).records;
            for (std::uint32_t plu = 1; plu <= records_per_scale; ++plu) {
                const RecordFrame frame = random_record(rng, plu);
                std::copy_n(frame.begin() + sim::record_body_offset, sim::record_body_length,
                            records[plu].begin());
            }
        }
        controller.set_latency(link_floor);
        env.open_port = [this] { return std::make_unique<sim::SimPort>(port); };
    }
    std::string scales(unsigned n) const { return n == 1 ? "1S1" : "1S1-" + std::to_string(n); }

    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    ShopEnvironment env;
};

// Wall time of the runs against N × records × 8 ms.
void set_ratio(benchmark::State& state, std::chrono::duration<double> spent, double exchanges) {
    const double floor = exchanges * std::chrono::duration<double>(link_floor).count();
    state.counters["ratio_to_floor"] = spent.count() / floor;
}

void BM_backup_scales(benchmark::State& state) {
    const auto n = static_cast<unsigned>(state.range(0));
    Shop shop(n);
    const Folder dir("ktnet-bench-backup");
    std::chrono::duration<double> spent{0};
    for (auto _ : state) {
        std::ostringstream out, err;
        RunOutput output(out, err, "ktnet backup");
        const auto t0 = std::chrono::steady_clock::now();
        BackupOptions options{shop.scales(n), "1-" + std::to_string(records_per_scale), dir / ""};
        options.device.store = dir / "shop.db";
        const int status = run_backup(options, shop.env, output);
        spent += std::chrono::steady_clock::now() - t0;
        if (status != 0) state.SkipWithError(err.str().c_str());
    }
    set_ratio(state, spent / state.iterations(), double(n) * records_per_scale);
}
BENCHMARK(BM_backup_scales)->Arg(3)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_load_scales(benchmark::State& state) {
    const auto n = static_cast<unsigned>(state.range(0));
    const bool verify = state.range(1) != 0;
    Shop shop(n);
    const Folder dir("ktnet-bench-load");
    std::ofstream(dir / "in.txt", std::ios::binary) << plu_file(records_per_scale, 99);
    std::chrono::duration<double> spent{0};
    std::size_t exchanges = 0;
    for (auto _ : state) {
        std::filesystem::remove(dir / "log.jsonl");
        LoadOptions options;
        options.file = dir / "in.txt";
        options.to = shop.scales(n);
        options.yes = true;
        options.verify = verify;
        options.log = dir / "log.jsonl";
        options.device.store = dir / "shop.db";
        std::ostringstream out, err;
        RunOutput output(out, err, "ktnet load");
        const std::size_t before = shop.controller.exchanges();
        const auto t0 = std::chrono::steady_clock::now();
        const int status = run_load(options, shop.env, output);
        spent += std::chrono::steady_clock::now() - t0;
        exchanges += shop.controller.exchanges() - before;
        if (status != 0) state.SkipWithError(err.str().c_str());
    }
    const double records = double(n) * records_per_scale;
    const double per_run = double(exchanges) / double(state.iterations());
    // Every exchange past the opening one and the stores is a read-back.
    state.counters["reads_per_record"] = (per_run - 1 - records) / records;
    set_ratio(state, spent / state.iterations(), records * (verify ? 2 : 1));
}
BENCHMARK(BM_load_scales)
    ->Args({3, 0})
    ->Args({3, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Two files of 10000 records: a copy in which 1 record in 100 differs (arg 0), or two files
// that differ in every record and nearly every field (arg 1), each difference printed.
void BM_compare_10000(benchmark::State& state) {
    const Folder dir("ktnet-bench-compare");
    const std::string a = plu_file(10000, 1);
    std::string b = state.range(0) ? plu_file(10000, 2) : a;
    for (std::size_t line = 0; line < 10000 && !state.range(0); line += 100)
        b[line * (formatted_line_length + 1) + name_column] ^= 1;
    std::ofstream(dir / "a.txt", std::ios::binary) << a;
    std::ofstream(dir / "b.txt", std::ios::binary) << b;
    ShopEnvironment env;
    for (auto _ : state) {
        std::ostringstream out, err;
        RunOutput output(out, err, "ktnet compare");
        CompareOptions options{{dir / "a.txt", dir / "b.txt"}};
        options.device.store = dir / "shop.db";
        if (run_compare(options, env, output) != 1)
            state.SkipWithError("compare did not find the files different");
    }
}
BENCHMARK(BM_compare_10000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
