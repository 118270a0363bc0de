// The shop's store under ktnet-emu: it never claims a scale holds a record it may not hold,
// whatever moment a run is killed at; a restore gives back a scale's memory byte for byte; a
// load --changed sends exactly what differs; a backup that shrank keeps the previous file; a
// change made at the keypad shows in the history; a price list changes exactly what it gives.
#include <fmt/format.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <random>

#include "emu_support.hpp"
#include "plu/plu_line.hpp"
#include "store/shop_store.hpp"

namespace ktnet {
namespace {

using testing::address;
using testing::read_bytes;
using testing::run_process;
using testing::write_bytes;

constexpr std::uint32_t records = 40;

class EmulatedStore : public testing::Emulated {
protected:
    void SetUp() override {
        Emulated::SetUp();
        if (IsSkipped()) return;
        setenv("KTNET_STORE", (dir / "shop.db").c_str(), 1);
        write_bytes(dir / "shop", "1S1 deli\n1S2 bakery\n");
    }
    void TearDown() override { unsetenv("KTNET_STORE"); }

    // Records with every byte random but for the PLU, fit to travel through a PLU file.
    static std::map<std::uint32_t, sim::RecordBody> random_records(std::uint32_t seed,
                                                                   std::uint32_t count = records) {
        std::mt19937 rng(seed);
        std::map<std::uint32_t, sim::RecordBody> r;
        for (std::uint32_t plu = 1; plu <= count; ++plu) {
            sim::RecordBody body = testing::random_record(rng, plu);
            testing::make_transferable(body);
            // The emulator keeps byte 36 in its own text file as a Digit column, where 0xDA
            // and 0xEA would be a line feed and an end mark, and 0x48 the "x" a reader's line
            // has there, which it loads as 0.
            std::uint8_t& b36 = body[36 - sim::record_body_offset];
            if (b36 == 0xDA || b36 == 0xEA || b36 == 'x' - '0') b36 = 0x42;
            r[plu] = body;
        }
        return r;
    }

    // ktnet under ktnet-emu, with the scales file and the shop.
    testing::ProcessResult ktnet(std::vector<std::string> args,
                                 std::vector<std::string> emu_options = {}) {
        emu_options.insert(emu_options.end(),
                           {"--scales", "scales.txt", "--scale", "1:S:1", "--scale", "1:S:2"});
        args.insert(args.begin(), KTNET_PATH);
        args.insert(args.end(), {"--shop", "shop"});
        return emu(emu_options, args);
    }

    std::string scales_file() { return read_bytes(dir / "scales.txt"); }

    // A record's line as the reader writes it, as a file holds it.
    static std::string reader_line(const sim::RecordBody& body) {
        RecordFrame frame{};
        std::copy(body.begin(), body.end(), frame.begin() + sim::record_body_offset);
        const FormattedLine line = format_line(address("1S1"), frame);
        return std::string(line.begin(), line.end() - 1) + "\r\n";
    }

    // The first line where the emulated scale's memory differs from what it should be; empty
    // when it does not.
    std::string memory_differs(const std::string& want) {
        const std::string got = scales_file();
        std::size_t line = 1, at = 0;
        for (; at < want.size() && at < got.size() && want[at] == got[at]; ++at)
            if (want[at] == '\n') ++line;
        if (at == want.size() && at == got.size()) return "";
        return "line " + std::to_string(line) + " differs";
    }

    // Every record the store calls known is what the emulated scale holds: its record, or for a
    // PLU it never got, the empty record it answers with.
    void expect_truthful(const std::string& when) {
        const auto memory = read_scales("scales.txt");
        auto store = ShopStore::open(dir / "shop.db");
        ASSERT_TRUE(store) << store.error();
        for (const char* s : {"1S1", "1S2"}) {
            auto known = store->known(address(s));
            ASSERT_TRUE(known) << known.error();
            const auto scale = memory.find(address(s));
            for (const auto& [plu, record] : known->records) {
                if (!record) continue;
                sim::RecordBody held = sim::empty_record(plu);
                if (scale != memory.end()) {
                    if (const auto it = scale->second.records.find(plu);
                        it != scale->second.records.end())
                        held = it->second;
                }
                ASSERT_TRUE(std::equal(held.begin(), held.end(), record->begin()))
                    << when << ": the store knows a record of " << s << " PLU " << plu
                    << " that the scale does not hold";
            }
        }
    }
};

// Kills at random moments of backups, loads and restores. KTNET_KILL_RUNS sets how many runs
// (bench/kill-runs asks for hundreds); a few by default.
TEST_F(EmulatedStore, StaysTruthfulWhateverMomentARunIsKilledAt) {
    const char* runs_text = std::getenv("KTNET_KILL_RUNS");
    const int runs = runs_text ? std::atoi(runs_text) : 6;
    write_scales("scales.txt", address("1S1"), random_records(1));
    std::string file;
    for (const auto& [plu, body] : random_records(2)) file += reader_line(body);
    write_bytes(dir / "new.txt", file);
    ASSERT_EQ(ktnet({"backup", "all", "--plu", "1-40", "--dir", "b", "--quiet"}).exit_status, 0);
    std::mt19937 rng(17);
    const std::vector<std::vector<std::string>> jobs = {
        {"backup", "all", "--plu", "1-40", "--dir", "b"},
        {"load", "new.txt", "--to", "all", "--yes", "--verify", "--log", "l.jsonl"},
        {"restore", "1S2", "--from-scale", "1S1", "--yes"},
        {"load", "new.txt", "--to", "1S1", "--yes", "--changed"},
    };
    for (int run = 0; run < runs; ++run) {
        const auto& job = jobs[static_cast<std::size_t>(run) % jobs.size()];
        const auto at = std::chrono::milliseconds(std::uniform_int_distribution<int>(10, 400)(rng));
        std::vector<std::string> command = {KTNET_EMU_PATH,
                                            "--scales",
                                            "scales.txt",
                                            "--scale",
                                            "1:S:1",
                                            "--scale",
                                            "1:S:2",
                                            "--latency-us",
                                            "2000",
                                            "--pid-file",
                                            (dir / "pid").string(),
                                            "--",
                                            KTNET_PATH};
        command.insert(command.end(), job.begin(), job.end());
        command.insert(command.end(), {"--shop", "shop", "--quiet"});
        (void)testing::run_on_terminal(
            command, dir.path(), dir / "pid", SIGKILL,
            [&](const std::string&, std::chrono::milliseconds elapsed) { return elapsed >= at; });
        expect_truthful("run " + std::to_string(run) + " (" + job[0] + ") killed after " +
                        std::to_string(at.count()) + " ms");
        if (HasFatalFailure()) return;
    }
}

TEST_F(EmulatedStore, ARestoreGivesBackTheScalesMemoryByteForByte) {
    write_scales("scales.txt", address("1S1"), random_records(3));
    const std::string original = scales_file();
    ASSERT_EQ(ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b"}).exit_status, 0);
    // Wiped: the scale holds nothing. Restored from the store's snapshot: every byte back,
    // byte 36 and columns 118-119 too.
    write_bytes(dir / "scales.txt", "");
    ASSERT_EQ(ktnet({"restore", "deli", "--yes"}).exit_status, 0);
    EXPECT_EQ(memory_differs(original), "");
    // The same through the reader's file: a load of the backup, with byte 36 as the store knows
    // it; and an export of it, edited in nothing, imported and loaded.
    write_bytes(dir / "scales.txt", "");
    std::string name;
    for (const auto& e : std::filesystem::directory_iterator(dir / "b")) name = e.path().string();
    ASSERT_EQ(ktnet({"load", name, "--to", "deli", "--yes", "--verify"}).exit_status, 0);
    EXPECT_EQ(memory_differs(original), "");
    write_bytes(dir / "scales.txt", "");
    ASSERT_EQ(run_process(KTNET_PATH, {"export", name, "-o", "a.csv"}, dir.path()).exit_status, 0);
    ASSERT_EQ(run_process(KTNET_PATH, {"import", "a.csv", "-o", "a.txt"}, dir.path()).exit_status,
              0);
    ASSERT_EQ(ktnet({"load", "a.txt", "--to", "deli", "--yes", "--verify"}).exit_status, 0);
    EXPECT_EQ(memory_differs(original), "");
}

TEST_F(EmulatedStore, ChangedSendsExactlyWhatDiffersAndWhatIsNotKnown) {
    auto memory = random_records(4);
    write_scales("scales.txt", address("1S1"), memory);
    ASSERT_EQ(ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b"}).exit_status, 0);
    // Three records edited, two PLUs the store has never seen.
    std::string file;
    for (auto [plu, body] : memory) {
        if (plu == 5 || plu == 17 || plu == 30) body[10] ^= 0x01;
        file += reader_line(body);
    }
    for (std::uint32_t plu = 41; plu <= 42; ++plu) file += reader_line(article(plu, "NEW"));
    write_bytes(dir / "new.txt", file);
    const auto r = ktnet({"load", "new.txt", "--to", "deli", "--yes", "--verify", "--changed",
                          "--log", "l.jsonl", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.output << read_bytes(dir / "l.jsonl");
    const std::string log = read_bytes(dir / "l.jsonl");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + 5);  // the header, then the five
    for (const char* plu :
         {"\"plu\":5,", "\"plu\":17,", "\"plu\":30,", "\"plu\":41,", "\"plu\":42,"})
        EXPECT_NE(log.find(plu), std::string::npos) << plu;
}

TEST_F(EmulatedStore, ABackupThatShrankKeepsThePreviousFile) {
    write_scales("scales.txt", address("1S1"), random_records(5));
    const std::string original = scales_file();
    ASSERT_EQ(ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b"}).exit_status, 0);
    std::string dated;
    for (const auto& e : std::filesystem::directory_iterator(dir / "b")) dated = e.path().string();
    const std::string good = read_bytes(dated);
    // Wiped but for three articles.
    auto few = random_records(5);
    std::erase_if(few, [](const auto& r) { return r.first > 3; });
    write_scales("scales.txt", address("1S1"), few);
    const auto r = ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b", "--json"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(read_bytes(dated), good);
    const auto doc = nlohmann::json::parse(r.output);
    const std::string result = doc["scales"][0]["result"];
    EXPECT_NE(result.find("the named articles fell from 40 to 3"), std::string::npos) << result;
    const std::string shrunk = doc["scales"][0]["file"].get<std::string>().empty()
                                   ? dated.substr(0, dated.size() - 4) + "-shrunk.txt"
                                   : "";
    EXPECT_TRUE(std::filesystem::exists(shrunk)) << shrunk;
    // A restore of the newest backup takes the last good one, never the shrunk one.
    ASSERT_EQ(ktnet({"restore", "deli", "--yes"}).exit_status, 0);
    EXPECT_EQ(memory_differs(original), "");
}

TEST_F(EmulatedStore, TheHistoryShowsAChangeMadeAtTheKeypad) {
    auto memory = random_records(6);
    write_scales("scales.txt", address("1S1"), memory);
    ASSERT_EQ(ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b"}).exit_status, 0);
    memory[9][33 - 6] ^= 0x11;  // at the keypad: a price
    write_scales("scales.txt", address("1S1"), memory);
    ASSERT_EQ(ktnet({"backup", "deli", "--plu", "1-40", "--dir", "b"}).exit_status, 0);
    const auto r =
        run_process(KTNET_PATH, {"history", "deli", "--shop", "shop", "--json"}, dir.path());
    ASSERT_EQ(r.exit_status, 0);
    const auto doc = nlohmann::json::parse(r.output);
    ASSERT_EQ(doc["changes"].size(), 1u) << r.output;
    EXPECT_EQ(doc["changes"][0]["plu"], 9);
    EXPECT_EQ(doc["changes"][0]["cause"], "found");
    EXPECT_EQ(doc["changes"][0]["fields"][0]["field"], "c41_46");
}

// The weekly change: a price list of 150 articles to three scales, merged onto what each holds.
TEST_F(EmulatedStore, APriceListSendsExactlyTheArticlesItChangesAndNothingElse) {
    const std::size_t price = std::find_if(plu_fields.begin(), plu_fields.end(),
                                           [](const PluField& f) { return f.column == 41; })
                                  ->frame_byte -
                              sim::record_body_offset;
    const auto set_price = [&](sim::RecordBody& body, std::uint32_t cents) {
        for (int i = 2; i >= 0; --i, cents /= 100) {
            body[price + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>((cents % 100 / 10) << 4 | cents % 10);
        }
    };
    const auto old_price = [](std::uint32_t plu) { return plu * 13; };
    const auto new_price = [](std::uint32_t plu) { return plu % 3 == 0 ? plu * 13 + 1 : plu * 13; };
    std::map<ScaleAddress, std::map<std::uint32_t, sim::RecordBody>> memory, expected;
    std::string content;
    for (const char* s : {"1S1", "1S2", "1T1"}) {
        auto& held = memory[address(s)];
        held = random_records(8, 200);
        for (auto& [plu, body] : held) {
            // 1T1 had part of the change already, from the keypad.
            const bool early = std::string(s) == "1T1" && plu <= 30;
            set_price(body, early ? new_price(plu) : old_price(plu));
        }
        expected[address(s)] = held;
        for (auto& [plu, body] : expected[address(s)])
            if (plu <= 150) set_price(body, new_price(plu));
        for (const auto& [plu, body] : held) {
            const FormattedLine line = sim::scale_file_line(address(s), body);
            content.append(line.begin(), line.end() - 1);
            content += "\r\n";
        }
    }
    write_bytes(dir / "scales.txt", content);
    write_bytes(dir / "shop", "1S1 deli\n1S2 bakery\n1T1 cheese\n");
    write_bytes(dir / "fields", "price = c41_46, 2 decimals\n");
    std::string list = "PLU;price\r\n";
    for (std::uint32_t plu = 1; plu <= 150; ++plu)
        list += fmt::format("{};{},{:02}\r\n", plu, new_price(plu) / 100, new_price(plu) % 100);
    write_bytes(dir / "prices.csv", list);

    ASSERT_EQ(ktnet({"backup", "all", "--plu", "1-200", "--dir", "b", "--quiet"}).exit_status, 0);
    // The plan first, with what it would send, and nothing sent.
    const auto plan = emu(
        {"--scales", "scales.txt"},
        {"bash", "-c",
         std::string(KTNET_PATH) + " load prices.csv --to all --changed --verify --fields fields "
                                   "--shop shop --dry-run 2>&1"});
    ASSERT_EQ(plan.exit_status, 0) << plan.output;
    for (const char* note : {"1S1: the list touches 150 articles, 50 differ",
                             "1T1: the list touches 150 articles, 40 differ", "nothing sent"})
        EXPECT_NE(plan.output.find(note), std::string::npos) << plan.output;
    EXPECT_EQ(read_scales("scales.txt").at(address("1T1")).records, memory[address("1T1")]);

    const auto r = ktnet({"load", "prices.csv", "--to", "all", "--changed", "--verify", "--yes",
                          "--fields", "fields", "--log", "l.jsonl"});
    ASSERT_EQ(r.exit_status, 0) << r.output;
    const std::string log = read_bytes(dir / "l.jsonl");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + 50 + 50 + 40);
    const auto after = read_scales("scales.txt");
    for (const auto& [scale, want] : expected) {
        ASSERT_EQ(after.at(scale).records.size(), want.size());
        for (const auto& [plu, body] : want)
            ASSERT_EQ(after.at(scale).records.at(plu), body) << scale.text() << " PLU " << plu;
    }
}

}  // namespace
}  // namespace ktnet
