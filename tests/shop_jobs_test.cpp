// ktnet scan, backup, load and compare in-process, on a shop of six simulated scales on two
// channels: the jobs, their faults, and the properties a shop relies on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "cli/exit_status.hpp"
#include "ktnet/backup.hpp"
#include "ktnet/compare.hpp"
#include "ktnet/export.hpp"
#include "ktnet/load.hpp"
#include "ktnet/scan.hpp"
#include "link/little_endian.hpp"
#include "link/session.hpp"
#include "plu/plu_line.hpp"
#include "shop/backup_job.hpp"
#include "shop/load_log.hpp"
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

    DeviceOptions device(bool json = false) const {
        DeviceOptions d{(dir / "shop").string(), 1000, {json}};
        d.store = (dir / "shop.db").string();
        return d;
    }

    template <typename Options, typename F>
    Outcome run(F command, const Options& options) {
        std::ostringstream out, err;
        RunOutput output(out, err, "ktnet");
        const int status = output.finish(command(options, env, output));
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
    // Each empty address is asked twice: the controller must say twice that nobody is there.
    EXPECT_EQ(controller.exchanges(), 1 + 6 + 2 * 66u);
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

// One odd answer never loses a scale: it is asked again. One that never answers right is
// named, and so is a scale of the shop file that does not answer.
struct ScanCase {
    const char* what;
    std::vector<std::pair<std::size_t, sim::FaultKind>> faults;  // by exchange; 1S2 is asked at 2
    bool veg_on_the_bus;
    int status;
    bool complete;  // every address asked, and every one that answered gave a record
    std::size_t scales_found;
    const char* message;  // on standard error; empty for none
};

class ScanOutcome : public Shop, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanOutcome, AsksAgainAfterAnOddAnswer) {
    const ScanCase& c = GetParam();
    for (const auto& [n, kind] : c.faults) controller.inject(n, {kind});
    if (!c.veg_on_the_bus) controller.scales().erase(address("2T1"));
    const Outcome r = run(run_scan, ScanOptions{"1-4", device(true)});
    EXPECT_EQ(r.status, c.status) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["scales"].size(), c.scales_found);
    EXPECT_EQ(doc["complete"], c.complete);
    if (*c.message) {
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

using FK = sim::FaultKind;
INSTANTIATE_TEST_SUITE_P(
    Table, ScanOutcome,
    ::testing::Values(ScanCase{"a garbled answer", {{2, FK::garbage}}, true, 0, true, 6, ""},
                      ScanCase{"a short answer", {{2, FK::short_answer}}, true, 0, true, 6, ""},
                      ScanCase{"a wrong code", {{2, FK::wrong_code}}, true, 0, true, 6, ""},
                      ScanCase{"a status 5", {{2, FK::status5}}, true, 0, true, 6, ""},
                      ScanCase{"garbled every time",
                               {{2, FK::garbage}, {3, FK::garbage}, {4, FK::garbage}},
                               true,
                               1,
                               false,
                               5,
                               "1S2 bakery: answered, but garbled"},
                      ScanCase{"a scale of the shop missing",
                               {},
                               false,
                               1,
                               true,
                               5,
                               "2T1 veg of the shop file did not answer"}),
    [](const auto& test) { return testing::test_name(test.param.what); });

TEST_F(Shop, ARunWhileAnotherHoldsTheControllerSendsNothing) {
    Session other(port);
    ASSERT_EQ(other.find_controller([](const DiscoveryEvent&) {}).result, Discovery::Result::found);
    const Outcome r = run(run_backup, BackupOptions{"all", "1-5", dir.path().string(), device()});
    EXPECT_EQ(r.status, exit_status::controller_held);
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

// A line of PLU 7 as the reader writes it, without its CR LF.
std::string line_of(std::uint32_t plu = 7) {
    RecordFrame record{};
    write_le24(plu, std::span<std::uint8_t, 3>(record.data() + record_plu_index, 3));
    const FormattedLine line = format_line(address("1S1"), record);
    return std::string(line.begin(), line.end() - 2);
}

// Two lines; the second has a space in column 41, where a BCD digit belongs.
std::string two_lines() {
    std::string bad = line_of(8);
    bad[41] = ' ';
    return line_of() + "\r\r\n" + bad + "\r\r\n";
}

struct Refusal {
    const char* what;
    std::string file;  // the content of in.txt
    std::function<void(LoadOptions&, ShopEnvironment&)> change;
    int status;
    const char* message;
};

class LoadRefusal : public Shop, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LoadRefusal, SendsNothing) {
    const auto& c = GetParam();
    write_bytes(dir / "in.txt", c.file);
    LoadOptions o = load_options("in.txt", "1S1,2T1");
    c.change(o, env);
    const Outcome r = run(run_load, o);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(controller.exchanges(), 0u);
    EXPECT_TRUE(records("1S1").empty());
}

const auto unchanged = [](LoadOptions&, ShopEnvironment&) {};
const std::string good = line_of() + "\r\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, LoadRefusal,
    ::testing::Values(
        Refusal{"an empty file", "", unchanged, 2, "the selection holds no"},
        Refusal{"a number column", two_lines(), unchanged, 1, "in.txt:2: column 41"},
        Refusal{"a number column outside the lines chosen", two_lines(),
                [](LoadOptions& o, auto&) { o.lines = "1"; }, 1, "in.txt:2: column 41"},
        Refusal{"a last line cut short", good + line_of(8).substr(0, 120), unchanged, 1,
                "in.txt:2: the line ends at column 120"},
        Refusal{"an end mark in a name", line_of().replace(20, 1, "\x1A") + "\r\r\n" + good,
                unchanged, 1, "which ends the file"},
        Refusal{"a PLU on two lines", good + line_of(8) + "\r\r\n" + good, unchanged, 1,
                "in.txt:3: PLU 000007 is on line 1 as well"},
        Refusal{"a PLU above 65535", line_of(70000) + "\r\r\n", unchanged, 1,
                "PLU 070000 is above 65535"},
        Refusal{"a price list onto a scale the store does not know",
                "plu;name;c41_46\r\n7;SER;003199\r\n", unchanged, 1,
                "1S1: the store knows nothing of what it holds, and the list gives only some "
                "fields; fill it in with: ktnet backup 1S1"},
        Refusal{"no line end at all", std::string(5000, '\0'), unchanged, 1,
                "line 1 is not a PLU line"},
        Refusal{"no terminal", good, [](LoadOptions& o, auto&) { o.yes = false; }, 2,
                "not a terminal"},
        Refusal{"answered no", good,
                [](LoadOptions& o, ShopEnvironment& e) {
                    o.yes = false;
                    e.input_is_terminal = true;
                    e.read_answer = [] { return std::optional<std::string>("n"); };
                },
                1, "nothing sent"},
        Refusal{"lines past the end", good, [](LoadOptions& o, auto&) { o.lines = "1-3"; }, 2,
                "within the 1 lines"},
        Refusal{"the log is the file", good, [](LoadOptions& o, auto&) { o.log = o.file; }, 2,
                "which this run reads"},
        Refusal{"an unknown scale", good, [](LoadOptions& o, auto&) { o.to = "cheeze"; }, 2,
                "\"cheeze\" is neither"}),
    [](const auto& test) { return testing::test_name(test.param.what); });

TEST_F(Shop, LoadRetriesARefusedRecordThenFailsTheScaleAndGoesOn) {
    fill("1S1", 10, 3);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    records("1S1").clear();
    // 1S2: its 3rd record not answered once; 1T1: its 2nd record refused every time.
    controller.inject(3, {sim::FaultKind::status5});
    for (std::size_t n = 13; n < 13 + store_attempts; ++n)
        controller.inject(n, {sim::FaultKind::wrong_code});
    LoadOptions o = load_options("in.txt", "1S2,1T1,2S1");
    o.device.output.json = true;
    const Outcome r = run(run_load, o);
    EXPECT_EQ(r.status, 1) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["scales"][0]["done"], 10);
    EXPECT_EQ(doc["scales"][1]["done"], 1);
    EXPECT_EQ(doc["scales"][2]["done"], 10);
    EXPECT_EQ(records("2S1").size(), 10u);
    const std::string log = read_bytes(dir / "load.jsonl");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + 22);  // the header, then a record each
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
    EXPECT_NE(r.err.find("line 4 (PLU 4) stored, but its read-back failed: PLU 5 answered for "
                         "PLU 4"),
              std::string::npos)
        << r.err;

    records("1S2").clear();
    const std::size_t before = controller.exchanges();
    o.log = (dir / "again.jsonl").string();
    EXPECT_EQ(run(run_load, o).status, 0);
    EXPECT_EQ(controller.exchanges() - before, 1 + 2 * 6u);  // the opening, then store + read
    EXPECT_EQ(records("1S2").size(), 6u);
}

// A copy through a file is exact as far as a file can carry it: its text equals the scale's,
// and a second scale loaded from it differs in byte 36 alone, which no line carries, and says
// why. Every difference counts.
class FaithfulCopy : public Shop, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(FaithfulCopy, DiffersOnlyWhereAFileCannotCarryAByte) {
    fill("1S1", 40, GetParam());
    ASSERT_EQ(run(run_backup, BackupOptions{"deli", "1-40", dir.path().string(), device()}).status,
              0);
    const std::string backup = backup_path(dir.path(), address("1S1"), env.now()).string();
    ASSERT_EQ(run(run_load, load_options(backup, "meat")).status, 0);

    const Outcome r =
        run(run_compare, CompareOptions{{"deli", backup, "meat"}, "1-40", device(true)});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_TRUE(doc["pairs"][0]["equal"]) << doc.dump();
    EXPECT_EQ(doc["pairs"][0]["compared"], 40);
    std::set<std::string> fields;
    for (const auto& plu : doc["pairs"][1]["differ"]) {
        for (const auto& f : plu["fields"]) {
            fields.insert(f["field"].get<std::string>());
            EXPECT_NE(f["reason"].get<std::string>().find("byte 36 is in no PLU line"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(fields, (std::set<std::string>{"byte36"}));

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
    // The newest log goes on from the first, without copying it: the two tell the whole job.
    std::size_t stored = 0;
    const auto count = [&](const LogEntry& e) { stored += e.stored() ? 1 : 0; };
    const auto newest = read_log(dir / "resumed.jsonl", count);
    ASSERT_TRUE(newest);
    EXPECT_TRUE(std::filesystem::equivalent(newest->header.resumes, first.log));
    ASSERT_TRUE(read_log(first.log, count));
    EXPECT_EQ(stored, 20u);
}

INSTANTIATE_TEST_SUITE_P(FailingExchange, ResumedLoad, ::testing::Values(1u, 5u, 10u, 14u));

// What a resume makes of a log: it skips only the records of this very file that the log shows
// as done for the scales asked, and refuses a log that cannot be this job's.
struct ResumeCase {
    const char* what;
    // Changes the file, the log or the options of the resumed run after a complete first run.
    std::function<void(const std::filesystem::path& dir, LoadOptions&)> change;
    int status;
    std::size_t exchanges;  // of the resumed run, the opening included
    const char* message;
};

class ResumeOutcome : public Shop, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeOutcome, SkipsOnlyTheRecordsItShowsDone) {
    fill("1S1", 6, 11);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    LoadOptions first = load_options("in.txt", "1S2");
    ASSERT_EQ(run(run_load, first).status, 0);
    LoadOptions resumed = first;
    resumed.resume = first.log;
    resumed.log = (dir / "resumed.jsonl").string();
    GetParam().change(dir.path(), resumed);
    const std::size_t before = controller.exchanges();
    const Outcome r = run(run_load, resumed);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_EQ(controller.exchanges() - before, GetParam().exchanges);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}

// The lines of a log, its last one changed by edit.
void edit_last_log_line(const std::string& log, const std::function<void(std::string&)>& edit) {
    std::string text = read_bytes(log);
    const std::size_t start = text.rfind('\n', text.size() - 2) + 1;
    std::string last = text.substr(start);
    edit(last);
    write_bytes(log, text.substr(0, start) + last);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResumeOutcome,
    ::testing::Values(
        ResumeCase{"everything done: nothing sent, and still a log",
                   [](const auto&, LoadOptions&) {}, 0, 0, "nothing left to send; log: "},
        ResumeCase{"an edited record is sent again",
                   [](const auto& dir, LoadOptions&) {
                       std::string text = read_bytes(dir / "in.txt");
                       text[143 * 2 + 41] = text[143 * 2 + 41] == '1' ? '2' : '1';
                       write_bytes(dir / "in.txt", text);
                   },
                   0, 2, "1 record of"},
        ResumeCase{"a partial last line is not done",
                   [](const auto&, LoadOptions& o) {
                       edit_last_log_line(o.resume, [](std::string& l) { l.resize(l.size() / 2); });
                   },
                   0, 2, "1 record of"},
        ResumeCase{"another file's log",
                   [](const auto& dir, LoadOptions& o) {
                       write_bytes(dir / "other.txt", two_lines().substr(0, 143));
                       o.file = (dir / "other.txt").string();
                   },
                   2, 0, "is the log of another file"},
        ResumeCase{"a log made for other scales",
                   [](const auto&, LoadOptions& o) { o.to = "1S2,2T1"; }, 2, 0,
                   "and 2T1 is not among them"},
        ResumeCase{"a log of an older ktnet",
                   [](const auto&, LoadOptions& o) {
                       write_bytes(o.resume, R"({"time":"t","scale":"1S2","line":1,"plu":1})"
                                             "\n");
                   },
                   2, 0, "has no header line"},
        ResumeCase{"not a log at all",
                   [](const auto& dir, LoadOptions& o) { o.resume = (dir / "in.txt").string(); }, 2,
                   0, "line 1 is not a line of a load's log"}),
    [](const auto& test) { return testing::test_name(test.param.what); });

// A stop that comes while a record is being read back leaves it "stored", not done: the resumed
// --verify reads it back, and sends nothing again.
TEST_F(Shop, AStopDuringAReadBackLeavesTheRecordToReadBack) {
    fill("1S1", 4, 12);
    write_bytes(dir / "in.txt", plu_file("1S1"));
    LoadOptions first = load_options("in.txt", "1S2");
    first.verify = true;
    // The opening, then a store and a read per record: exchange 6 is the 3rd record's read-back.
    controller.inject(6, {sim::FaultKind::latency, std::chrono::milliseconds(400)});
    env.context.stop_signal = [this] { return controller.exchanges() > 6 ? 2 : 0; };
    EXPECT_EQ(run(run_load, first).status, 128 + 2);
    EXPECT_NE(read_bytes(first.log).find(R"("plu":3,"name":)"), std::string::npos);
    EXPECT_NE(read_bytes(first.log).find(R"("result":"stored")"), std::string::npos);

    env.context.stop_signal = [] { return 0; };
    LoadOptions resumed = first;
    resumed.resume = first.log;
    resumed.log = (dir / "resumed.jsonl").string();
    const std::size_t before = controller.exchanges();
    const Outcome r = run(run_load, resumed);
    EXPECT_EQ(r.status, 0) << r.err;
    // PLU 3 read back once; PLU 4 stored and read back.
    EXPECT_EQ(controller.exchanges() - before, 1 + 1 + 2u);
    const std::string log = read_bytes(resumed.log);
    EXPECT_NE(log.find(R"("plu":3,"name":)"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + 2);
}

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
