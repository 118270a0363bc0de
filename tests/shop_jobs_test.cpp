// ktnet scan, backup, load and compare in-process, on a shop of six simulated scales on two
// channels: the jobs, their faults, and the properties a shop relies on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "ktnet/backup.hpp"
#include "ktnet/compare.hpp"
#include "ktnet/export.hpp"
#include "ktnet/load.hpp"
#include "ktnet/load_log.hpp"
#include "ktnet/scan.hpp"
#include "link/session.hpp"
#include "plu/plu_line.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::address;
using testing::read_bytes;
using testing::ScratchDir;
using testing::write_bytes;

struct Outcome {
    int status;
    std::string out, err;
};

constexpr const char* shop_names[] = {"1S1 deli", "1S2 bakery", "1T1 cheese",
                                      "2S1 fish", "2S2 meat",   "2T1 veg"};

class Shop : public ::testing::Test {
protected:
    void SetUp() override {
        std::string text;
        for (const char* s : shop_names) {
            text += std::string(s) + "\n";
            controller.add_scale(address(std::string_view(s).substr(0, 3)));
        }
        write_bytes(dir / "shop", text);
        env.open_port = [this] { return std::make_unique<sim::SimPort>(port); };
        env.now = [] {
            return std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000));
        };
    }

    DeviceOptions device(bool json = false) const { return {(dir / "shop").string(), 1000, json}; }

    template <typename Options, typename F>
    Outcome run(F command, const Options& options) {
        std::ostringstream out, err;
        const int status = command(options, env, out, err);
        return {status, out.str(), err.str()};
    }

    // Random records, every one of them fit to go through a PLU file.
    void fill(const char* scale, std::uint32_t count, std::uint32_t seed) {
        std::mt19937 rng(seed);
        auto& records = controller.find_scale(address(scale))->records;
        for (std::uint32_t plu = 1; plu <= count; ++plu) {
            sim::RecordBody body = testing::random_record(rng, plu);
            testing::make_transferable(body);
            records[plu] = body;
        }
    }

    // A PLU file of the records as the reader writes it.
    std::string plu_file(const char* scale) {
        std::string text;
        for (const auto& [plu, body] : controller.find_scale(address(scale))->records) {
            RecordFrame frame{};
            std::copy(body.begin(), body.end(), frame.begin() + sim::record_body_offset);
            const FormattedLine line = format_line(address(scale), frame);
            text.append(line.begin(), line.end() - 1);
            text += "\r\n";
        }
        return text;
    }

    std::map<std::uint32_t, sim::RecordBody>& records(const char* scale) {
        return controller.find_scale(address(scale))->records;
    }

    LoadOptions load_options(const std::string& file, const std::string& to) {
        LoadOptions o;
        o.file = (dir / file).string();
        o.to = to;
        o.yes = true;
        o.log = (dir / "load.jsonl").string();
        o.device = device();
        return o;
    }

    ScratchDir dir;
    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    ShopEnvironment env;
};

TEST_F(Shop, ScanFindsTheSixScalesAndStopsAtTheFirstSilence) {
    const Outcome found = run(run_scan, ScanOptions{"1-4", device(true)});
    ASSERT_EQ(found.status, 0) << found.err;
    const auto doc = nlohmann::json::parse(found.out);
    EXPECT_EQ(doc["asked"], 72);
    ASSERT_EQ(doc["scales"].size(), 6u);
    EXPECT_EQ(doc["scales"][2]["address"], "1T1");
    EXPECT_EQ(doc["scales"][2]["name"], "cheese");

    // The controller goes silent at the third address: one time-out, not seventy.
    controller.inject(controller.exchanges() + 3, {sim::FaultKind::stall});
    const auto started = std::chrono::steady_clock::now();
    const Outcome silent = run(run_scan, ScanOptions{"1-4", device()});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    EXPECT_EQ(silent.status, 2);
    EXPECT_NE(silent.err.find("stopped answering at 1S3"), std::string::npos) << silent.err;
}

TEST_F(Shop, ARunWhileAnotherHoldsTheControllerSendsNothing) {
    Session other(port);
    ASSERT_EQ(other.find_controller([](const DiscoveryEvent&) {}).result, Discovery::Result::found);
    const Outcome r = run(run_backup, BackupOptions{"all", "1-5", dir.path().string(), device()});
    EXPECT_EQ(r.status, ktnet_status::controller_held);
    EXPECT_NE(r.err.find("held by another program"), std::string::npos) << r.err;
    EXPECT_EQ(controller.exchanges(), 0u);
}

TEST_F(Shop, BackupKeepsAFailedScalesLastBackupAndGoesOn) {
    fill("1S1", 20, 1);
    fill("1S2", 20, 2);
    const auto old_file = backup_path(dir.path(), address("1S2"), env.now());
    write_bytes(old_file, "last week's backup");
    // The 25th exchange is 1S2's fifth PLU.
    controller.inject(25, {sim::FaultKind::status5});
    const Outcome r = run(
        run_backup, BackupOptions{"deli,bakery,1T1", "1-20", dir.path().string(), device(true)});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["scales"][0]["ok"], true);
    EXPECT_EQ(doc["scales"][1]["ok"], false);
    EXPECT_EQ(doc["scales"][1]["records"], 4);
    EXPECT_EQ(doc["scales"][2]["ok"], true);
    EXPECT_EQ(read_bytes(old_file), "last week's backup");
    EXPECT_FALSE(std::filesystem::exists(old_file.string() + ".partial"));
    EXPECT_EQ(read_bytes(backup_path(dir.path(), address("1S1"), env.now())), plu_file("1S1"));
}

// 1S1's first answer comes after the time-out, while 1S2 is asked for the same PLU: 1S2's
// backup holds 1S2's records alone.
TEST_F(Shop, ALateAnswerNeverGoesIntoTheNextScalesBackup) {
    fill("1S1", 3, 9);
    fill("1S2", 3, 10);
    controller.inject(1, {sim::FaultKind::latency, std::chrono::milliseconds(300)});
    DeviceOptions quick = device(true);
    quick.timeout_ms = 200;
    const Outcome r = run(run_backup, BackupOptions{"1S1,1S2", "1-3", dir.path().string(), quick});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["scales"][0]["ok"], false);
    EXPECT_EQ(doc["scales"][1]["ok"], true);
    EXPECT_EQ(read_bytes(backup_path(dir.path(), address("1S2"), env.now())), plu_file("1S2"));
    EXPECT_EQ(controller.exchanges(), 1 + 1 + 3u);  // the opening, 1S1's PLU 1, 1S2's three
}

// Two lines; the second has a space in column 41, where a BCD digit belongs.
std::string two_lines() {
    RecordFrame record{};
    record[record_plu_index] = 7;
    const FormattedLine line = format_line(address("1S1"), record);
    std::string text(line.begin(), line.end() - 1);
    std::string bad = text;
    bad[41] = ' ';
    return text + "\r\n" + bad + "\r\n";
}

struct Refusal {
    const char* what;
    const char* file;  // the content of in.txt
    std::function<void(LoadOptions&, ShopEnvironment&)> change;
    int status;
    const char* message;
};

class LoadRefusal : public Shop, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LoadRefusal, SendsNothing) {
    const auto& c = GetParam();
    write_bytes(dir / "in.txt", c.file ? std::string(c.file) : two_lines());
    LoadOptions o = load_options("in.txt", "1S1,2T1");
    c.change(o, env);
    const Outcome r = run(run_load, o);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(controller.exchanges(), 0u);
    EXPECT_TRUE(records("1S1").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadRefusal,
    ::testing::Values(
        Refusal{"an empty file", "", [](auto&, auto&) {}, 2, "the selection holds no"},
        Refusal{"a number column", nullptr, [](auto&, auto&) {}, 1, "in.txt:2: column 41"},
        Refusal{"no terminal", nullptr,
                [](LoadOptions& o, auto&) {
                    o.yes = false;
                    o.lines = "1-1";
                },
                2, "not a terminal"},
        Refusal{"answered no", nullptr,
                [](LoadOptions& o, ShopEnvironment& e) {
                    o.yes = false;
                    o.lines = "1";
                    e.input_is_terminal = true;
                    e.read_answer = [] { return std::optional<std::string>("n"); };
                },
                1, "nothing sent"},
        Refusal{"lines past the end", nullptr, [](LoadOptions& o, auto&) { o.lines = "1-3"; }, 2,
                "within the 2 lines"},
        Refusal{"an unknown scale", nullptr, [](LoadOptions& o, auto&) { o.to = "cheeze"; }, 2,
                "\"cheeze\" is neither"}),
    [](const auto& test) { return std::to_string(test.index); });

TEST_F(Shop, LoadRetriesARefusedRecordThenFailsTheScaleAndGoesOn) {
    fill("1S1", 10, 3);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    records("1S1").clear();
    // 1S2: its 3rd record refused once; 1T1: its 2nd record refused every time.
    controller.inject(3, {sim::FaultKind::status5});
    for (std::size_t n = 13; n < 13 + store_attempts; ++n)
        controller.inject(n, {sim::FaultKind::status5});
    LoadOptions o = load_options("in.txt", "1S2,1T1,2S1");
    o.device.json = true;
    const Outcome r = run(run_load, o);
    EXPECT_EQ(r.status, 1) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["scales"][0]["done"], 10);
    EXPECT_EQ(doc["scales"][1]["done"], 1);
    EXPECT_EQ(doc["scales"][2]["done"], 10);
    EXPECT_EQ(records("2S1").size(), 10u);
    const std::string log = read_bytes(dir / "load.jsonl");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 22);
    EXPECT_NE(log.find(R"("scale":"1T1","line":2,"plu":2)"), std::string::npos) << log;
    EXPECT_NE(log.find(R"("result":"refused","attempts":3)"), std::string::npos) << log;
    EXPECT_NE(log.find(R"("result":"ok","attempts":2)"), std::string::npos) << log;
}

TEST_F(Shop, VerifyReadsEachRecordBackOnceAndFailsAWrongReadBack) {
    fill("1S1", 6, 4);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    LoadOptions o = load_options("in.txt", "1S2");
    o.verify = true;
    // A store then a read per record; the 4th read (exchange 8) answers the next PLU's record
    // at every request: a wrong read-back, however firmly answered.
    for (std::size_t n = 8; n < 8 + record_requests; ++n)
        controller.inject(n, {sim::FaultKind::wrong_plu});
    const Outcome r = run(run_load, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 4 (PLU 4) stored, but its read-back failed: the record carries "
                         "another PLU number"),
              std::string::npos)
        << r.err;

    records("1S2").clear();
    const std::size_t before = controller.exchanges();
    o.log = (dir / "again.jsonl").string();
    EXPECT_EQ(run(run_load, o).status, 0);
    EXPECT_EQ(controller.exchanges() - before, 1 + 2 * 6u);  // the opening, then store + read
    EXPECT_EQ(records("1S2").size(), 6u);
}

// A faithful copy compares equal, but for the format's known asymmetries, which are named.
class FaithfulCopy : public Shop, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(FaithfulCopy, ComparesEqual) {
    fill("1S1", 40, GetParam());
    ASSERT_EQ(run(run_backup, BackupOptions{"deli", "1-40", dir.path().string(), device()}).status,
              0);
    const std::string backup = backup_path(dir.path(), address("1S1"), env.now()).string();
    ASSERT_EQ(run(run_load, load_options(backup, "meat")).status, 0);

    const Outcome r =
        run(run_compare, CompareOptions{{"deli", backup, "meat"}, "1-40", device(true)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    for (const auto& pair : doc["pairs"]) {
        EXPECT_TRUE(pair["differ"].empty()) << pair.dump();
        EXPECT_EQ(pair["compared"], 40);
    }
    // The random records have byte 36 and byte 65 over 9: the copy shows both, as known.
    std::set<std::string> known;
    for (const auto& plu : doc["pairs"][1]["known"])
        for (const auto& f : plu["fields"]) known.insert(f["field"].get<std::string>());
    EXPECT_EQ(known, (std::set<std::string>{"byte36", "c118_119"}));
    EXPECT_TRUE(doc["pairs"][0]["known"].empty());

    // A real difference is a difference, named by its columns.
    records("2S2")[7][45 - sim::record_body_offset] ^= 0x11;
    const Outcome changed = run(run_compare, CompareOptions{{backup, "meat"}, "1-40", device()});
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.out.find("1 PLU differs"), std::string::npos) << changed.out;
    EXPECT_NE(changed.out.find("PLU 7: c64_69"), std::string::npos) << changed.out;
}

INSTANTIATE_TEST_SUITE_P(Seeds, FaithfulCopy, ::testing::Values(5u, 6u, 7u));

// A resumed load sends exactly what the failed run's log does not show as done.
class ResumedLoad : public Shop, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ResumedLoad, SendsExactlyTheMissingRecords) {
    fill("1S1", 12, 8);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    // Exchange k refused every time: the first run fails a scale there.
    const std::size_t k = GetParam();
    for (std::size_t n = k; n < k + store_attempts; ++n)
        controller.inject(n, {sim::FaultKind::status5});
    LoadOptions first = load_options("in.txt", "1S2,2T1");
    first.plu = "2-11";
    EXPECT_EQ(run(run_load, first).status, 1);
    const auto sent_first = std::make_pair(records("1S2"), records("2T1"));

    records("1S2").clear();
    records("2T1").clear();
    // A run killed while it wrote a line leaves that line partial: it is not done.
    write_bytes(first.log, read_bytes(first.log) + R"({"time":"2024-10-04T00:00:00","scale":"1S2)");
    LoadOptions resumed = first;
    resumed.resume = first.log;
    resumed.log = (dir / "resumed.jsonl").string();
    EXPECT_EQ(run(run_load, resumed).status, 0);
    // Between the two runs, each scale got PLUs 2-11 exactly once.
    for (const auto& [sent, again] : {std::make_pair(sent_first.first, records("1S2")),
                                      std::make_pair(sent_first.second, records("2T1"))}) {
        for (std::uint32_t plu = 2; plu <= 11; ++plu)
            EXPECT_NE(sent.contains(plu), again.contains(plu)) << plu;
        EXPECT_EQ(sent.size() + again.size(), 10u);
    }
    // The newest log tells the whole job.
    const LogRead all = read_done_entries(dir / "resumed.jsonl");
    EXPECT_EQ(all.done.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(FailingExchange, ResumedLoad, ::testing::Values(1u, 5u, 10u, 14u));

// A scale exports exactly as the file of its records does, named by its shop name.
TEST_F(Shop, ExportOfAScaleIsTheExportOfItsRecordsFile) {
    fill("1S2", 20, 42);
    std::string file;
    for (const auto& [plu, body] : controller.find_scale(address("1S2"))->records) {
        RecordFrame record{};
        std::copy(body.begin(), body.end(), record.begin() + sim::record_body_offset);
        const FormattedLine line = format_line(address("1S2"), record);
        file.append(line.begin(), line.end() - 1).append("\r\n");  // LF stored as CR LF
    }
    write_bytes(dir / "bakery.txt", file);
    ExportOptions from_scale{.source = "bakery", .output = (dir / "scale.csv").string()};
    from_scale.plu = "1-20";
    from_scale.device = device();
    ASSERT_EQ(run(run_export, from_scale).status, 0);
    const ExportOptions from_file{.source = (dir / "bakery.txt").string(),
                                  .output = (dir / "file.csv").string()};
    ASSERT_EQ(run(run_export, from_file).status, 0);
    EXPECT_EQ(read_bytes(dir / "scale.csv"), read_bytes(dir / "file.csv"));
    EXPECT_EQ(controller.exchanges(), 21u);  // the opening, then one read a record
}

// A signal that arrives while a scale answers every request at once ends the read before the
// next request, whichever command reads, with the status of the signal.
TEST_F(Shop, SignalBetweenRecordsEndsEveryReadOfAScale) {
    fill("1S1", 40, 7);
    write_bytes(dir / "deli.txt", plu_file("1S1"));
    constexpr std::size_t signalled_after = 5;  // exchanges, the opening one included
    env.context.stop_signal = [this] { return controller.exchanges() >= signalled_after ? 2 : 0; };
    ExportOptions exported{.source = "deli", .output = (dir / "deli.csv").string()};
    exported.plu = "1-40";
    exported.device = device();
    const std::function<Outcome()> reads[] = {
        [&] {
            return run(run_backup, BackupOptions{"deli", "1-40", dir.path().string(), device()});
        },
        [&] { return run(run_export, exported); },
        [&] {
            return run(run_compare,
                       CompareOptions{{(dir / "deli.txt").string(), "deli"}, "1-40", device()});
        },
    };
    for (const auto& read : reads) {
        const std::size_t before = controller.exchanges();
        EXPECT_EQ(read().status, 128 + 2);
        EXPECT_LE(controller.exchanges() - before, signalled_after);
    }
}

}  // namespace
}  // namespace ktnet
