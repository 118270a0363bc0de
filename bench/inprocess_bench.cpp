// Host cost of rdk and ldk with the simulated controller in the same process: whole runs of
// run_reader and run_loader over an in-process port, timed by wall clock and by process CPU
// time, and the simulated controller's own share measured alone.
//
//   inprocess_bench run SAMPLE RECORDS LATENCY_US REPETITIONS
//       prints "NAME wall_us cpu_us" lines, each the median of REPETITIONS runs, for
//       rdk, ldk, and the simulated controller alone answering the same requests
//       (sim_read: RECORDS PLU requests, sim_store: RECORDS record stores)
//   inprocess_bench make-scales SAMPLE RECORDS OUT
//       writes a scales file for ktnet-emu: RECORDS articles on channel 1, section 1
//
// SAMPLE is a scales file (data/sample-scale.txt); its articles are repeated under PLU
// numbers 1..RECORDS.
#include <time.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "link/controller_link.hpp"
#include "link/little_endian.hpp"
#include "loader/loader.hpp"
#include "plu/plu_line.hpp"
#include "reader/reader.hpp"
#include "sim/scale_file.hpp"
#include "sim/sim_port.hpp"
#include "sim/simulated_controller.hpp"

namespace {

using namespace ktnet;

const ScaleAddress bench_scale = ScaleAddress::parse("1S1").value();

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ktnet-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct Cost {
    double wall_us;
    double cpu_us;
};

double process_cpu_us() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

Cost measure(const std::function<void()>& run) {
    const double cpu0 = process_cpu_us();
    const auto wall0 = std::chrono::steady_clock::now();
    run();
    const auto wall1 = std::chrono::steady_clock::now();
    const double cpu1 = process_cpu_us();
    return {std::chrono::duration<double, std::micro>(wall1 - wall0).count(), cpu1 - cpu0};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::uint32_t parse_count(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        throw std::runtime_error("not a count: " + std::string(text));
    }
    return value;
}

// The sample's articles repeated under PLU numbers 1..records on the bench scale.
void fill_scale(const std::filesystem::path& sample, std::uint32_t records,
                sim::SimulatedController& controller) {
    sim::SimulatedController loaded;
    std::string error;
    if (!sim::load_scales(sample, loaded, error)) throw std::runtime_error(error);
    std::vector<sim::RecordBody> articles;
    for (const auto& [id, scale] : loaded.scales()) {
        for (const auto& [plu, body] : scale.records) articles.push_back(body);
    }
    if (articles.empty()) throw std::runtime_error(sample.string() + " holds no articles");
    sim::Scale& scale = controller.add_scale(bench_scale);
    for (std::uint32_t plu = 1; plu <= records; ++plu) {
        sim::RecordBody body = articles[(plu - 1) % articles.size()];
        write_le24(plu, std::span<std::uint8_t, 3>(body.data(), 3));
        scale.records[plu] = body;
    }
}

// The output report of one frame, as the controller link builds it.
Report request_report(std::uint8_t route, FrameBuffer raw, std::size_t length) {
    FrameBuffer escaped{};
    checksum(length, raw);
    escape(length, raw, escaped);
    Report report{};
    fill_output_report(route, escaped, report);
    return report;
}

// The simulated controller alone behind its port: one write and one read per record, as in a
// run, with none of the programs' work.
void sim_alone(sim::SimPort& port, const std::vector<Report>& requests) {
    auto list = port.list_interfaces();
    auto device = (*list)->open(0);
    Report answer{};
    for (const Report& r : requests) {
        const bool ok = (*device)->write_report(r) &&
                        (*device)->read_report(answer, std::chrono::seconds(10)).ok() &&
                        answer[1] == 0;
        if (!ok) throw std::runtime_error("the simulated controller refused a request");
    }
}

int run(std::span<const std::string_view> args) {
    if (args.size() != 4) throw std::runtime_error("run SAMPLE RECORDS LATENCY_US REPETITIONS");
    const std::filesystem::path sample(args[0]);
    const std::uint32_t records = parse_count(args[1]);
    const std::chrono::microseconds latency(parse_count(args[2]));
    const std::uint32_t repetitions = std::max(parse_count(args[3]), 1u);

    sim::SimulatedController controller;
    fill_scale(sample, records, controller);
    controller.set_latency(latency);
    sim::SimPort port = sim::port_with_controller(controller);

    const TempDir dir;
    const std::string plu_file = (dir / "plu.txt").string();
    const auto result_file = dir / "wynik.txt";
    const std::string count = std::to_string(records);
    const std::array<std::string_view, 6> rdk_args = {"1", "S", "1", "1", count, plu_file};
    const std::array<std::string_view, 6> ldk_args = {"1", "S", "1", "1", count, plu_file};
    std::ofstream console("/dev/null");  // a redirected console: block-buffered

    // The requests the controller alone answers, as rdk and ldk send them.
    std::vector<Report> read_requests, store_requests;
    for (std::uint32_t plu = 1; plu <= records; ++plu) {
        FrameBuffer raw{};
        build_request_frame(bench_scale.address_byte(), plu, raw);
        read_requests.push_back(request_report(0, raw, short_frame_length));
    }

    std::vector<double> rdk_wall, rdk_cpu, ldk_wall, ldk_cpu, read_wall, read_cpu, store_wall,
        store_cpu;
    for (std::uint32_t rep = 0; rep < repetitions; ++rep) {
        int status = -1;
        Cost c = measure([&] { status = run_reader(rdk_args, port, console); });
        if (status != 0)
            throw std::runtime_error("rdk ended with status " + std::to_string(status));
        const auto expected_size = std::uintmax_t{formatted_line_length + 1} * records;
        if (std::filesystem::file_size(plu_file) != expected_size) {
            throw std::runtime_error("rdk wrote a file of the wrong size");
        }
        rdk_wall.push_back(c.wall_us);
        rdk_cpu.push_back(c.cpu_us);

        c = measure([&] { status = run_loader(ldk_args, port, console, result_file); });
        if (status != 0)
            throw std::runtime_error("ldk ended with status " + std::to_string(status));
        if (std::filesystem::file_size(result_file) != std::uintmax_t{31} * records) {
            throw std::runtime_error("ldk wrote a result file of the wrong size");
        }
        ldk_wall.push_back(c.wall_us);
        ldk_cpu.push_back(c.cpu_us);

        if (store_requests.empty()) {  // the records exactly as ldk sent them
            std::ifstream lines(plu_file, std::ios::binary);
            std::string line;
            while (std::getline(lines, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                RecordFrame record{};
                if (!parse_line(line, record)) {
                    throw std::runtime_error("rdk wrote a line that does not parse");
                }
                FrameBuffer raw{};
                build_store_frame(bench_scale.address_byte(), record, raw);
                store_requests.push_back(request_report(0, raw, record_frame_length));
            }
        }
        c = measure([&] { sim_alone(port, read_requests); });
        read_wall.push_back(c.wall_us);
        read_cpu.push_back(c.cpu_us);
        c = measure([&] { sim_alone(port, store_requests); });
        store_wall.push_back(c.wall_us);
        store_cpu.push_back(c.cpu_us);
    }
    if (!controller.violations().empty()) {
        throw std::runtime_error("protocol violation: " + controller.violations().front());
    }
    std::cout << "rdk " << median(rdk_wall) << ' ' << median(rdk_cpu) << '\n'
              << "ldk " << median(ldk_wall) << ' ' << median(ldk_cpu) << '\n'
              << "sim_read " << median(read_wall) << ' ' << median(read_cpu) << '\n'
              << "sim_store " << median(store_wall) << ' ' << median(store_cpu) << '\n';
    return 0;
}

int make_scales(std::span<const std::string_view> args) {
    if (args.size() != 3) throw std::runtime_error("make-scales SAMPLE RECORDS OUT");
    sim::SimulatedController controller;
    fill_scale(std::filesystem::path(args[0]), parse_count(args[1]), controller);
    std::string error;
    if (!sim::save_scales(std::filesystem::path(args[2]), controller, error)) {
        throw std::runtime_error(error);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "run") return run(std::span(args).subspan(1));
        if (!args.empty() && args[0] == "make-scales")
            return make_scales(std::span(args).subspan(1));
        std::cerr << "usage: inprocess_bench run SAMPLE RECORDS LATENCY_US REPETITIONS\n"
                     "       inprocess_bench make-scales SAMPLE RECORDS OUT\n";
        return 64;
    } catch (const std::exception& e) {
        std::cerr << "inprocess_bench: " << e.what() << '\n';
        return 1;
    }
}
