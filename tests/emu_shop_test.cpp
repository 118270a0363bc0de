// The shop's week under ktnet-emu: six scales on two channels, faults on the way, and every
// ktnet subcommand as its own process through hidapi and the emulated device.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "emu_support.hpp"

namespace ktnet {
namespace {

using testing::Emulated;
using testing::read_bytes;
using testing::write_bytes;

constexpr std::size_t records_each = 30;  // PLUs 1-30 on every scale
constexpr std::size_t loaded = 8;         // lines of new.txt

// The controller counts exchanges across the script's runs; each run opens with one. Scan:
// the six scales once (one of them twice, for a garbled answer), the 66 empty addresses twice.
// Backup: six scales of 30, but bakery's stops at its fifth PLU. Load: a store and a read per
// record.
constexpr std::size_t backup_open = 1 + 6 + 1 + 2 * 66;
constexpr std::size_t bakery_plu5 = backup_open + records_each + 5;
constexpr std::size_t load_open = bakery_plu5 + 4 * records_each + 1;

TEST_F(Emulated, AShopsWeekDrivesEverySubcommand) {
    const char* names[] = {"1S1 deli", "1S2 bakery", "1T1 cheese",
                           "2S1 fish", "2S2 meat",   "2T1 veg"};
    std::string shop, scales;
    for (std::size_t s = 0; s < 6; ++s) {
        shop += std::string(names[s]) + "\n";
        const ScaleAddress id = testing::address(std::string_view(names[s]).substr(0, 3));
        for (std::uint32_t plu = 1; plu <= records_each; ++plu) {
            sim::RecordBody body = article(plu, "ART " + std::to_string(plu) + " " + names[s]);
            body[65 - 6] = static_cast<std::uint8_t>(plu);  // over 9 from PLU 10 on
            body[36 - 6] = static_cast<std::uint8_t>(s);
            const FormattedLine line = sim::scale_file_line(id, body);
            scales.append(line.begin(), line.end() - 1);
            scales += "\r\n";
        }
    }
    write_bytes(dir / "shop", shop);
    write_bytes(dir / "scales.txt", scales);
    std::string file;
    for (std::uint32_t plu = 101; plu < 101 + loaded; ++plu) {
        RecordFrame frame{};
        const sim::RecordBody body = article(plu, "NEW " + std::to_string(plu));
        std::copy(body.begin(), body.end(), frame.begin() + 6);
        const FormattedLine line = format_line(testing::address("1S1"), frame);
        file.append(line.begin(), line.end() - 1);
        file += "\r\n";
    }
    write_bytes(dir / "new.txt", file);
    std::filesystem::create_directory(dir / "backups");
    write_bytes(dir / "backups" / "1S2-2000-01-01.txt", "last week");
    const std::string script =
        "export KTNET_STORE=\"$PWD/shop.db\"\n"
        "k() { \"$KTNET\" \"$@\" --shop shop; echo \"$1 $?\" >> statuses; }\n"
        "k scan --json > scan.json 2> scan.err\n"
        "k backup all --plu 1-30 --dir backups --json > backup.json 2> backup.err\n"
        "k load new.txt --to deli,bakery,2S1 --verify --yes --log first.jsonl --json > load.json "
        "2> load.err\n"
        "k load new.txt --to deli,bakery,2S1 --verify --yes --resume first.jsonl --log "
        "second.jsonl 2> resume.err\n"
        "k compare new.txt deli bakery 2S1 --json > compare.json 2> compare.err\n"
        "k compare backups/1S1-*.txt deli --plu 1-30 > same.txt 2> same.err\n";
    write_bytes(dir / "week.sh", script);

    // Faults: a garbled answer in the scan (asked again), bakery's PLU 5 unanswered in the
    // backup, bakery's third store refused every time in the first load.
    const std::size_t bakery_third = load_open + 2 * loaded + 2 * 2 + 1;
    std::vector<std::string> options = {"--scales", "scales.txt",
                                        "--fault",  "1:bad-checksum",
                                        "--fault",  std::to_string(bakery_plu5) + ":status5"};
    for (std::size_t n = 0; n < 3; ++n) {
        options.push_back("--fault");
        options.push_back(std::to_string(bakery_third + n) + ":status5");
    }
    setenv("KTNET", KTNET_PATH, 1);
    const auto r = emu(options, {"/bin/sh", "week.sh"});
    unsetenv("KTNET");
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_bytes(dir / "statuses"),
              "scan 0\nbackup 1\nload 1\nload 0\ncompare 0\ncompare 0\n");

    const auto scan = nlohmann::json::parse(read_bytes(dir / "scan.json"));
    EXPECT_EQ(scan["scales"].size(), 6u);
    EXPECT_EQ(scan["scales"][5]["name"], "veg");

    const auto backup = nlohmann::json::parse(read_bytes(dir / "backup.json"));
    for (std::size_t s = 0; s < 6; ++s) EXPECT_EQ(backup["scales"][s]["ok"], s != 1) << s;
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir / "backups")) {
        files += 1;
        if (e.path().filename().string().starts_with("1S2-")) {
            EXPECT_EQ(e.path().filename(), "1S2-2000-01-01.txt");
        }
    }
    EXPECT_EQ(files, 6u);  // five new backups and bakery's old one, untouched
    EXPECT_EQ(read_bytes(dir / "backups" / "1S2-2000-01-01.txt"), "last week");

    const auto load = nlohmann::json::parse(read_bytes(dir / "load.json"));
    EXPECT_EQ(load["scales"][1]["done"], 2);
    EXPECT_EQ(load["scales"][2]["done"], loaded);
    // The resumed run's log names the first instead of copying it: its header, then bakery's
    // records the first run did not get to.
    const std::string second = read_bytes(dir / "second.jsonl");
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1 + loaded - 2);
    EXPECT_NE(second.find(R"("resumes":)"), std::string::npos) << second;

    const auto compare = nlohmann::json::parse(read_bytes(dir / "compare.json"));
    for (const auto& pair : compare["pairs"]) EXPECT_TRUE(pair["equal"]) << pair.dump();
    EXPECT_NE(read_bytes(dir / "same.txt").find("equal (30 PLUs)"), std::string::npos);
}

}  // namespace
}  // namespace ktnet
