// Runs that end abruptly or run long: every "*" shown has its line in the file, nothing is
// partial, nothing is left behind that stops the next run, and resource use stays flat.
#include <signal.h>

#include <fstream>
#include <random>

#include "emu_support.hpp"

namespace ktnet {
namespace {

using testing::Emulated;
using testing::read_bytes;
using testing::write_bytes;

constexpr int records = 200;

std::string plu_text(int n) {
    std::string digits = std::to_string(n);
    return std::string(6 - digits.size(), '0') + digits;
}

std::string input_lines(int count) {
    std::string lines;
    for (int i = 1; i <= count; ++i)
        lines += "1 S 01 xx" + plu_text(i) + " ITEM " + std::to_string(i) + "\n";
    return lines;
}

struct InterruptCase {
    const char* program;  // "rdk" or "ldk"
    int signal;
};

class Interrupted : public Emulated, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(Interrupted, StarredLinesSurviveAndTheNextRunWorks) {
    const bool reader = std::string_view(GetParam().program) == "rdk";
    std::map<std::uint32_t, sim::RecordBody> scale;
    for (int i = 1; i <= records; ++i)
        scale[static_cast<std::uint32_t>(i)] =
            article(static_cast<std::uint32_t>(i), "ITEM " + std::to_string(i));
    write_scales("scales.txt", testing::address("1S1"), scale);
    write_bytes(dir / "in.txt", input_lines(records));
    const std::string file = reader ? "out.txt" : "wynik.txt";
    const std::size_t line_size = reader ? 143 : 31;
    const std::vector<std::string> program =
        reader ? std::vector<std::string>{RDK_PATH, "1", "S", "1", "1", std::to_string(records),
                                          "out.txt"}
               : std::vector<std::string>{LDK_PATH, "1", "S", "1", "1", std::to_string(records),
                                          "in.txt"};

    std::mt19937 rng(static_cast<unsigned>(GetParam().signal * 100 + (reader ? 1 : 2)));
    for (int run = 0; run < 10; ++run) {
        // A random moment within the first few hundred records' worth of 5 ms exchanges.
        const auto at = std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 600)(rng));
        std::filesystem::remove(dir / file);  // a run killed before it opens the file leaves none
        std::vector<std::string> command = {KTNET_EMU_PATH,         "--scales", "scales.txt",
                                            "--latency-us",         "5000",     "--pid-file",
                                            (dir / "pid").string(), "--"};
        command.insert(command.end(), program.begin(), program.end());
        const auto result = testing::run_on_terminal(
            command, dir.path(), dir / "pid", GetParam().signal,
            [&](const std::string&, std::chrono::milliseconds elapsed) { return elapsed >= at; });

        const std::string content = read_bytes(dir / file);
        SCOPED_TRACE("run " + std::to_string(run) + ", signal at " + std::to_string(at.count()) +
                     " ms");
        EXPECT_EQ(content.size() % line_size, 0u) << "a partial line";
        const std::size_t lines = content.size() / line_size;
        EXPECT_GE(lines, result.stars);
        EXPECT_LE(lines, result.stars + 1) << "at most the line whose * the signal beat";
        for (std::size_t i = 0; i < lines; ++i) {
            const std::string line = content.substr(i * line_size, line_size);
            const std::string expected = reader ? "1 S 01 xx" + plu_text(static_cast<int>(i + 1))
                                                : "ok ITEM " + std::to_string(i + 1) + " ";
            ASSERT_EQ(line.substr(0, expected.size()), expected) << "line " << i;
        }
    }
    // No lock or half-written state is left: the same files serve a whole run.
    auto again = emu({"--scales", "scales.txt"}, program);
    EXPECT_EQ(again.exit_status, 0);
    EXPECT_EQ(read_bytes(dir / file).size(), records * line_size);
}

INSTANTIATE_TEST_SUITE_P(
    Emulated, Interrupted,
    ::testing::Values(InterruptCase{"rdk", SIGKILL}, InterruptCase{"rdk", SIGINT},
                      InterruptCase{"ldk", SIGKILL}, InterruptCase{"ldk", SIGINT}),
    [](const auto& p) {
        return std::string(p.param.program) + (p.param.signal == SIGKILL ? "_SIGKILL" : "_SIGINT");
    });

// A scale that never answers leaves the program waiting in poll(), where a signal ends it;
// the emulator then saves its scales and exits as ever.
TEST_F(Emulated, SignalEndsAWaitForAnAnswerThatNeverComes) {
    write_scales("scales.txt", testing::address("1S1"), {{1, article(1, "ONE")}});
    const std::vector<std::string> command = {KTNET_EMU_PATH,
                                              "--scales",
                                              "scales.txt",
                                              "--fault",
                                              "1:stall",
                                              "--pid-file",
                                              (dir / "pid").string(),
                                              "--",
                                              RDK_PATH,
                                              "1",
                                              "S",
                                              "1",
                                              "1",
                                              "1",
                                              "out.txt"};
    const auto start = std::chrono::steady_clock::now();
    const auto result =
        testing::run_on_terminal(command, dir.path(), dir / "pid", SIGINT,
                                 [](const std::string&, std::chrono::milliseconds elapsed) {
                                     return elapsed >= std::chrono::milliseconds(500);
                                 });
    EXPECT_EQ(result.exit_status, 128 + SIGINT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "ended only by the 10 s wait";
    EXPECT_EQ(read_scales("scales.txt").at(testing::address("1S1")).records.size(), 1u);
}

std::size_t max_rss_kb(const std::filesystem::path& usage_file) {
    std::ifstream in(usage_file);
    std::string key;
    std::size_t value = 0;
    while (in >> key >> value) {
        if (key == "max_rss_kb") return value;
    }
    return 0;
}

TEST_F(Emulated, MemoryDoesNotGrowWithTheNumberOfRecords) {
    write_bytes(dir / "in.txt", input_lines(10000));
    std::size_t peak[2][2] = {};
    for (int size = 0; size < 2; ++size) {
        const std::string last = size == 0 ? "100" : "10000";
        const auto r = emu({"--scale", "1:S:1", "--usage-file", "rdk.usage"},
                           {RDK_PATH, "1", "S", "1", "1", last, "out.txt"});
        ASSERT_EQ(r.exit_status, 0);
        const auto l = emu({"--scale", "1:S:1", "--usage-file", "ldk.usage"},
                           {LDK_PATH, "1", "S", "1", "1", last, "in.txt"});
        ASSERT_EQ(l.exit_status, 0);
        peak[0][size] = max_rss_kb(dir / "rdk.usage");
        peak[1][size] = max_rss_kb(dir / "ldk.usage");
    }
    for (int program = 0; program < 2; ++program) {
        ASSERT_GT(peak[program][0], 0u);
        // A hundred times the records may not cost more than a little slack in pages touched.
        EXPECT_LE(peak[program][1], peak[program][0] + 1024) << (program ? "ldk" : "rdk");
    }
}

}  // namespace
}  // namespace ktnet
