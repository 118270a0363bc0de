// The shop's store: what it costs a job per record and in commits, what --changed sends and how
// long its plan takes, how large a snapshot is, and how long status and history take over a year
// of nightly backups; what a weekly price list costs to merge and sends. Jobs run in-process
// against the simulated controller.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "link/little_endian.hpp"
#include "plu/plu_line.hpp"
#include "shop/load_job.hpp"
#include "shop/load_plan.hpp"
#include "shop/price_list.hpp"
#include "shop/store_journal.hpp"
#include "sim/sim_port.hpp"
#include "store/shop_store.hpp"

namespace {

using namespace ktnet;

class Folder {
public:
    explicit Folder(const char* name) : path_(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path operator/(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

ScaleAddress scale_number(unsigned n) {
    return *ScaleAddress::make(1, 'S', n);
}

StoredRecord random_record(std::mt19937& rng, std::uint32_t plu) {
    RecordFrame frame{};
    for (auto& b : frame) b = static_cast<std::uint8_t>(rng() % 10);
    write_le24(plu, std::span<std::uint8_t, 3>(frame.data() + record_plu_index, 3));
    for (std::size_t i = name_frame_byte; i < name_frame_byte + name_length; ++i)
        frame[i] = static_cast<std::uint8_t>('A' + rng() % 26);
    frame[unused_frame_byte] = 0;
    return stored_of(frame);
}

// A file of the records as the reader writes them.
void write_file(const std::filesystem::path& path, const std::map<std::uint32_t, StoredRecord>& r) {
    std::string text;
    for (const auto& [plu, record] : r) {
        for (const std::uint8_t b : format_line(scale_number(1), frame_of(record))) {
            if (b == '\n') text += '\r';
            text += static_cast<char>(b);
        }
    }
    std::ofstream(path, std::ios::binary) << text;
}

class NoObserver : public JobObserver {};

// A load of one file to scales through a real store, in-process: the job's wall time and the
// store's commits.
struct LoadRun {
    double seconds = 0;
    std::size_t commits = 0, exchanges = 0;
};

LoadRun run_load(sim::SimulatedController& controller, ShopStore* store, const LoadPlan& plan,
                 bool verify, const std::filesystem::path& log_path) {
    sim::SimPort port = sim::port_with_controller(controller);
    ShopEnvironment env;
    env.open_port = [&] { return std::make_unique<sim::SimPort>(port); };
    auto connection = Connection::open(env, {});
    auto log = LogWriter::create(log_path.string(), "", {"t", "f", {}, verify});
    if (!connection || !log) return {};
    std::optional<StoreJournal> journal;
    const JobId job =
        store ? store->begin_job("load", "load", "bench", std::chrono::system_clock::now()).value()
              : 0;
    if (store) journal.emplace(*store, job, [] { return std::chrono::system_clock::now(); });
    NoObserver observer;
    const std::size_t commits = store ? store->commits() : 0;
    const std::size_t exchanges = controller.exchanges();
    const auto t0 = std::chrono::steady_clock::now();
    (void)run_load_job(plan, verify,
                       {**connection, *log, observer, [] { return std::string("t"); },
                        journal ? &*journal : nullptr});
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - t0;
    return {spent.count(), (store ? store->commits() : 0) - commits,
            controller.exchanges() - exchanges};
}

// The store's host cost per record of a load: with the store, less without (arg 1, 0).
void BM_store_cost_per_record(benchmark::State& state) {
    const Folder dir("ktnet-bench-store-cost");
    constexpr std::uint32_t n = 2000;
    std::mt19937 rng(1);
    std::map<std::uint32_t, StoredRecord> records;
    for (std::uint32_t plu = 1; plu <= n; ++plu) records[plu] = random_record(rng, plu);
    write_file(dir / "in.txt", records);
    auto plan = plan_load({(dir / "in.txt").string(), {scale_number(1)}});
    auto store = ShopStore::open(dir / "shop.db");
    if (!plan || !store) {
        state.SkipWithError("no plan or no store");
        return;
    }
    sim::SimulatedController controller;
    controller.add_scale(scale_number(1));
    double seconds = 0;
    for (auto _ : state) {
        seconds += run_load(controller, state.range(0) ? &*store : nullptr, *plan, false,
                            dir / "log.jsonl")
                       .seconds;
    }
    state.counters["us_per_record"] = 1e6 * seconds / static_cast<double>(state.iterations()) / n;
}
BENCHMARK(BM_store_cost_per_record)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A load with --verify over an 8 ms link through the store: its ratio to the floor and the
// store's commits a second.
void BM_store_load_at_the_floor(benchmark::State& state) {
    const Folder dir("ktnet-bench-store-floor");
    std::mt19937 rng(2);
    std::map<std::uint32_t, StoredRecord> records;
    for (std::uint32_t plu = 1; plu <= 200; ++plu) records[plu] = random_record(rng, plu);
    write_file(dir / "in.txt", records);
    auto plan =
        plan_load({(dir / "in.txt").string(), {scale_number(1), scale_number(2), scale_number(3)}});
    auto store = ShopStore::open(dir / "shop.db");
    if (!plan || !store) {
        state.SkipWithError("no plan or no store");
        return;
    }
    sim::SimulatedController controller;
    for (unsigned s = 1; s <= 3; ++s) controller.add_scale(scale_number(s));
    controller.set_latency(std::chrono::milliseconds(8));
    LoadRun run;
    for (auto _ : state) run = run_load(controller, &*store, *plan, true, dir / "log.jsonl");
    state.counters["ratio_to_floor"] = run.seconds / (static_cast<double>(run.exchanges) * 0.008);
    state.counters["commits_per_second"] = static_cast<double>(run.commits) / run.seconds;
}
BENCHMARK(BM_store_load_at_the_floor)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// load --changed of 10000 records, 1 in 100 changed, to 3 scales the store knows: the exchanges
// it makes (with --verify) and the plan's time per scale.
void BM_load_changed(benchmark::State& state) {
    const Folder dir("ktnet-bench-changed");
    constexpr std::uint32_t n = 10000;
    std::mt19937 rng(3);
    std::map<std::uint32_t, StoredRecord> held;
    for (std::uint32_t plu = 1; plu <= n; ++plu) held[plu] = random_record(rng, plu);
    auto store = ShopStore::open(dir / "shop.db");
    if (!store) {
        state.SkipWithError(store.error().c_str());
        return;
    }
    const JobId backup =
        store->begin_job("backup", "backup 1S1-3", "bench", std::chrono::system_clock::now())
            .value();
    sim::SimulatedController controller;
    LoadRequest request;
    for (unsigned s = 1; s <= 3; ++s) {
        auto& memory = controller.add_scale(scale_number(s)).records;
        StoreBatch batch;
        for (const auto& [plu, record] : held) {
            std::copy(record.begin(), record.end(), memory[plu].begin());
            batch.read(scale_number(s), record);
        }
        if (!store->commit(batch, backup, std::chrono::system_clock::now()))
            state.SkipWithError("the store cannot be written");
        request.targets.push_back(scale_number(s));
        request.known.emplace(scale_number(s), store->known(scale_number(s)).value());
    }
    auto edited = held;
    for (std::uint32_t plu = 1; plu <= n; plu += 100) edited[plu][10] ^= 0x01;
    write_file(dir / "in.txt", edited);
    request.file = (dir / "in.txt").string();
    request.changed = true;
    request.verify = true;
    double plan_seconds = 0;
    LoadRun run;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto plan = plan_load(request);
        plan_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!plan) {
            state.SkipWithError("no plan");
            return;
        }
        run = run_load(controller, &*store, *plan, true, dir / "log.jsonl");
    }
    state.counters["exchanges"] = static_cast<double>(run.exchanges);  // the opening not counted
    state.counters["changed_times_2"] = 3.0 * (n / 100) * 2;
    state.counters["plan_ms_per_scale"] =
        1e3 * plan_seconds / static_cast<double>(state.iterations()) / 3;
}
BENCHMARK(BM_load_changed)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The store's growth per snapshot of 10000 records, one in a hundred changed since the last:
// the file's size once closed (and so checkpointed), after one snapshot and after ten more.
void BM_snapshot_size(benchmark::State& state) {
    const Folder dir("ktnet-bench-snapshot");
    std::mt19937 rng(4);
    std::map<std::uint32_t, StoredRecord> records;
    for (std::uint32_t plu = 1; plu <= 10000; ++plu) records[plu] = random_record(rng, plu);
    const auto add = [&](int count, int from) {
        {
            auto store = ShopStore::open(dir / "shop.db");
            for (int i = from; i < from + count && store; ++i) {
                for (std::uint32_t plu = 1 + static_cast<std::uint32_t>(i % 100); plu <= 10000;
                     plu += 100)
                    records[plu][12] ^= 0x01;
                const auto now = std::chrono::system_clock::now();
                const auto job = store->begin_job("backup", "backup 1S1", "bench", now);
                if (!job || !store->add_snapshot(scale_number(1), *job, now, records, ""))
                    state.SkipWithError("the store cannot be written");
            }
        }  // closed, and so checkpointed
        std::error_code ec;
        return static_cast<double>(std::filesystem::file_size(dir / "shop.db", ec));
    };
    constexpr int more = 10;
    double first = 0, after = 0;
    for (auto _ : state) {
        first = add(1, 0);
        after = add(more, 1);
    }
    state.counters["kib_first"] = first / 1024;
    state.counters["kib_per_snapshot"] = (after - first) / more / 1024;
}
BENCHMARK(BM_snapshot_size)->Iterations(1)->Unit(benchmark::kMillisecond);

// status and history over a year of nightly backups of 8 scales of 1000 records, each night
// finding a few records changed at the keypad.
void BM_year_of_backups(benchmark::State& state) {
    const Folder dir("ktnet-bench-year");
    auto store = ShopStore::open(dir / "shop.db");
    if (!store) {
        state.SkipWithError(store.error().c_str());
        return;
    }
    std::mt19937 rng(5);
    const auto start = std::chrono::system_clock::now() - std::chrono::hours(24 * 365);
    for (unsigned s = 1; s <= 8; ++s) {
        std::map<std::uint32_t, StoredRecord> records;
        for (std::uint32_t plu = 1; plu <= 1000; ++plu) records[plu] = random_record(rng, plu);
        for (int night = 0; night < 365; ++night) {
            const auto when = start + std::chrono::hours(24 * night);
            StoreBatch batch;
            for (int k = 0; k < 5; ++k) {
                auto& r = records[static_cast<std::uint32_t>(1 + rng() % 1000)];
                r[12] ^= 0x01;
            }
            for (const auto& [plu, record] : records) batch.read(scale_number(s), record);
            const auto job = store->begin_job("backup", "backup all", "timer", when).value();
            (void)store->commit(batch, job, when);
            (void)store->add_snapshot(scale_number(s), job, when, records, "");
            (void)store->end_job(job, when, "0", {{scale_number(s), "done", 1000, 1000}});
        }
    }
    double status_seconds = 0, history_seconds = 0;
    std::size_t changes = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (unsigned s = 1; s <= 8; ++s) benchmark::DoNotOptimize(store->status(scale_number(s)));
        status_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        t0 = std::chrono::steady_clock::now();
        HistoryFilter filter;
        filter.scales = {scale_number(1)};
        auto history = store->history(filter);
        history_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        changes = history ? history->size() : 0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["status_ms"] = 1e3 * status_seconds / n;
    state.counters["history_ms"] = 1e3 * history_seconds / n;
    state.counters["history_rows"] = static_cast<double>(changes);
}
BENCHMARK(BM_year_of_backups)->Iterations(3)->Unit(benchmark::kMillisecond);

// The weekly change: a price list of 500 rows (one price in five new) merged onto 8 scales that
// the store knows 10000 records of, then loaded with --changed --verify: the merge's time for
// all 8, and the exchanges next to the records that differ × 2.
void BM_price_list(benchmark::State& state) {
    const Folder dir("ktnet-bench-price-list");
    constexpr std::uint32_t n = 10000, rows = 500;
    constexpr unsigned scales = 8;
    std::mt19937 rng(7);
    std::map<std::uint32_t, StoredRecord> held;
    for (std::uint32_t plu = 1; plu <= n; ++plu) held[plu] = random_record(rng, plu);
    auto store = ShopStore::open(dir / "shop.db");
    if (!store) {
        state.SkipWithError(store.error().c_str());
        return;
    }
    const JobId backup =
        store->begin_job("backup", "backup all", "bench", std::chrono::system_clock::now()).value();
    sim::SimulatedController controller;
    std::map<ScaleAddress, KnownState> known;
    std::vector<ScaleAddress> targets;
    for (unsigned s = 1; s <= scales; ++s) {
        auto& memory = controller.add_scale(scale_number(s)).records;
        StoreBatch batch;
        for (const auto& [plu, record] : held) {
            std::copy(record.begin(), record.end(), memory[plu].begin());
            batch.read(scale_number(s), record);
        }
        if (!store->commit(batch, backup, std::chrono::system_clock::now()))
            state.SkipWithError("the store cannot be written");
        targets.push_back(scale_number(s));
        known.emplace(scale_number(s), store->known(scale_number(s)).value());
    }
    // The price is c41_46, BCD after the name: as held, or one cent more for every fifth row.
    constexpr std::size_t price = name_frame_byte + name_length - payload_index;
    std::string list = "plu;price\r\n";
    std::size_t differ = 0;
    for (std::uint32_t plu = 1; plu <= rows; ++plu) {
        const StoredRecord& r = held[plu];
        std::uint32_t cents = 0;
        for (std::size_t i = 0; i < 3; ++i)
            cents = cents * 100 + (r[price + i] >> 4) * 10 + (r[price + i] & 15);
        if (plu % 5 == 0) {
            cents = (cents + 1) % 1000000;
            ++differ;
        }
        list += std::to_string(plu) + ";" + std::to_string(cents / 100) + "," +
                std::to_string(cents % 100 / 10) + std::to_string(cents % 10) + "\r\n";
    }
    std::ofstream(dir / "prices.csv", std::ios::binary) << list;
    const auto code_page = CodePage::open("1250");
    const auto names = FieldNames::parse("price = c41_46, 2 decimals\n");
    if (!code_page || !names) {
        state.SkipWithError("no code page or field names");
        return;
    }
    double merge_seconds = 0;
    LoadRun run;
    for (auto _ : state) {
        PriceListRequest request{(dir / "prices.csv").string(), targets, known, true, std::nullopt,
                                 {{}, *code_page, *names}};
        const auto t0 = std::chrono::steady_clock::now();
        auto plan = plan_price_list(request);
        merge_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!plan) {
            state.SkipWithError(plan.error().messages.empty() ? "no plan"
                                                              : plan.error().messages[0].c_str());
            return;
        }
        run = run_load(controller, &*store, plan->plan, true, dir / "log.jsonl");
    }
    state.counters["merge_ms"] = 1e3 * merge_seconds / static_cast<double>(state.iterations());
    state.counters["exchanges"] = static_cast<double>(run.exchanges);
    state.counters["differ_times_2"] = static_cast<double>(scales * differ * 2);
}
BENCHMARK(BM_price_list)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
