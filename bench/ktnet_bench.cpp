// ktnet's file jobs on 10000 records as rdk writes them: check's throughput, and whole export
// and import runs in-process (files read and written, as a user runs them).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "ktnet/export.hpp"
#include "ktnet/import.hpp"
#include "plu/file_check.hpp"
#include "plu/plu_line.hpp"

namespace {

using namespace ktnet;

// export of a file, which needs no controller.
int export_file(const ExportOptions& options, std::ostream& out, std::ostream& err) {
    ShopEnvironment env;
    RunOutput output(out, err, "ktnet export");
    return run_export(options, env, output);
}

constexpr std::size_t records = 10000;

// A reader's file of 10000 records with random settings and names of letters, every LF stored
// as CR LF.
std::string reader_file() {
    std::mt19937 rng(10000);
    std::string file;
    const auto scale = ScaleAddress::parse("1S1").value();
    for (std::uint32_t plu = 1; plu <= records; ++plu) {
        std::array<std::uint8_t, record_frame_length> frame{};
        for (auto& b : frame) b = static_cast<std::uint8_t>(rng() % 10);
        frame[6] = static_cast<std::uint8_t>(plu);
        frame[7] = static_cast<std::uint8_t>(plu >> 8);
        frame[8] = 0;
        for (std::size_t i = name_frame_byte; i < name_frame_byte + name_length; ++i)
            frame[i] = static_cast<std::uint8_t>('A' + rng() % 26);
        for (const std::uint8_t b : format_line(scale, frame)) {
            if (b == '\n') file += '\r';
            file += static_cast<char>(b);
        }
    }
    return file;
}

// A folder holding the reader's file as in.txt and its export as in.csv.
class Files {
public:
    Files() : dir_(std::filesystem::temp_directory_path() / "ktnet-bench-files") {
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "in.txt", std::ios::binary) << reader_file();
        std::ostringstream out, err;
        if (export_file({.source = path("in.txt"), .output = path("in.csv")}, out, err) != 0)
            throw std::runtime_error(err.str());
    }
    ~Files() { std::filesystem::remove_all(dir_); }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;
    std::string path(const char* name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

void BM_check(benchmark::State& state) {
    const std::string file = reader_file();
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.data()),
                                              file.size());
    for (auto _ : state) benchmark::DoNotOptimize(check_plu_file(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_check)->Unit(benchmark::kMillisecond);

void BM_export_10000(benchmark::State& state) {
    const Files files;
    for (auto _ : state) {
        std::ostringstream out, err;
        if (export_file({.source = files.path("in.txt"), .output = files.path("out.csv")}, out,
                        err) != 0)
            state.SkipWithError("export failed");
    }
}
BENCHMARK(BM_export_10000)->Unit(benchmark::kMillisecond);

void BM_import_10000(benchmark::State& state) {
    const Files files;
    for (auto _ : state) {
        std::ostringstream out, err;
        ShopEnvironment env;
        RunOutput output(out, err, "ktnet import");
        if (run_import({.input = files.path("in.csv"), .output = files.path("out.txt")}, env,
                       output) != 0)
            state.SkipWithError("import failed");
    }
}
BENCHMARK(BM_import_10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
