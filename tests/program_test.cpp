// The built rdk and ldk as processes on this machine, which has no KT-NET controller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "cli/locked_file.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::read_bytes;
using testing::run_process;
using testing::write_bytes;

const std::string help =
    "\nnieprawidlowe parametry wywolania \nprawidlowo powinno byc \nrdk 1 S 1 1 999 rdk.txt"
    "\n rdk - nazwa programu\n 1   - numer kanalu w KT-NET \n S   - sekcja lub terminal "
    "\n 1   - numer sekcji lub terminala \n 1   - poczatkowe plu \n 999 - koncowe plu "
    "\n rdk.txt - nazwa pliku wyjsciowego";

TEST(RdkProcess, HelpTextByteForByte) {
    testing::ScratchDir dir;
    const auto r = run_process(RDK_PATH, {}, dir.path());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, help);
}

TEST(RdkProcess, BadArgumentsLeaveTheFileUntouched) {
    testing::ScratchDir dir;
    write_bytes(dir / "out.txt", "keep");
    const auto r = run_process(RDK_PATH, {"5", "S", "1", "1", "3", "out.txt"}, dir.path());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, help);
    EXPECT_EQ(read_bytes(dir / "out.txt"), "keep");
    const auto seven = run_process(RDK_PATH, {"1", "S", "1", "1", "3", "out.txt", "x"}, dir.path());
    EXPECT_EQ(seven.exit_status, 1);
    EXPECT_EQ(read_bytes(dir / "out.txt"), "keep");
}

TEST(RdkProcess, NoControllerEndsWithNoAnswer) {
    testing::ScratchDir dir;
    const auto r = run_process(RDK_PATH, {"1", "S", "1", "1", "3", "out.txt"}, dir.path());
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.output, "\nparametry wywolania OK\nbrak prawid\xC5\x82owej odpowiedzi z wagi");
    EXPECT_EQ(read_bytes(dir / "out.txt"), "");
}

TEST(LdkProcess, BadArgumentsAndMissingInputLeftUncreated) {
    testing::ScratchDir dir;
    const auto none = run_process(LDK_PATH, {}, dir.path());
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_EQ(none.output, "\n nieprawidlowe parametry wywolania ");
    const auto missing = run_process(LDK_PATH, {"1", "S", "1", "1", "3", "in.txt"}, dir.path());
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.output, "\n nieprawidlowe parametry wywolania ");
    EXPECT_FALSE(std::filesystem::exists(dir / "in.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "wynik.txt"));
}

TEST(LdkProcess, NoControllerLogsOneErLine) {
    testing::ScratchDir dir;
    write_bytes(dir / "in.txt", "1 S 01 xx000001 FIRST ARTICLE\n");
    const auto r = run_process(LDK_PATH, {"1", "S", "1", "1", "1", "in.txt"}, dir.path());
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.output, "\n parametry wywolania OK\nbrak prawidlowej odpowiedzi wagi");
    EXPECT_EQ(read_bytes(dir / "wynik.txt"), "er FIRST ARTICLE" + std::string(11, ' ') + " *\r\n");
}

// A second process holding a file under the programs' exclusive lock, as another run would,
// until release() or the end of this object.
class HeldByAnotherProcess {
public:
    explicit HeldByAnotherProcess(const std::filesystem::path& path) {
        int ready[2], release[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const auto file = LockedFile::open_for_reading(path);
            const char answer = file ? 'y' : 'n';
            if (write(ready[1], &answer, 1) != 1) _exit(1);
            close(release[1]);
            char c;
            while (read(release[0], &c, 1) > 0) {
            }  // until the test closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_fd_ = release[1];
        char answer = 'n';
        held_ = pid_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~HeldByAnotherProcess() { release(); }
    HeldByAnotherProcess(const HeldByAnotherProcess&) = delete;
    HeldByAnotherProcess& operator=(const HeldByAnotherProcess&) = delete;

    bool held() const { return held_; }
    void release() {
        if (release_fd_ < 0) return;
        close(release_fd_);
        release_fd_ = -1;
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool held_ = false;
};

const std::string input_line = "1 S 01 xx000001 FIRST ARTICLE\n";

struct HeldCase {
    const char* what;
    const char* program;
    const char* held;                          // the file the other process holds
    std::map<std::string, std::string> files;  // before the run, and unchanged after it
    std::vector<std::string> args;
    int exit_status;
    std::string output;
    std::string output_once_released;  // how the output begins when the file is free
};

class HeldFile : public ::testing::TestWithParam<HeldCase> {};

TEST_P(HeldFile, IsRefusedAndLeftUntouched) {
    const HeldCase& c = GetParam();
    testing::ScratchDir dir;
    for (const auto& [name, content] : c.files) write_bytes(dir / name, content);
    HeldByAnotherProcess holder(dir / c.held);
    ASSERT_TRUE(holder.held());

    const auto r = run_process(c.program, c.args, dir.path());
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.output, c.output);
    for (const auto& [name, content] : c.files) EXPECT_EQ(read_bytes(dir / name), content) << name;
    EXPECT_EQ(std::filesystem::exists(dir / "wynik.txt"), c.files.contains("wynik.txt"));

    // The lock alone was the reason: once it is released the same run gets past it.
    holder.release();
    const auto freed = run_process(c.program, c.args, dir.path());
    EXPECT_EQ(freed.output.substr(0, c.output_once_released.size()), c.output_once_released);
    EXPECT_NE(freed.output, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, HeldFile,
    ::testing::Values(HeldCase{"rdk_output",
                               RDK_PATH,
                               "out.txt",
                               {{"out.txt", "another run's lines\r\r\n"}},
                               {"1", "S", "1", "1", "3", "out.txt"},
                               1,
                               help,
                               "\nparametry wywolania OK"},
                      HeldCase{"ldk_input",
                               LDK_PATH,
                               "in.txt",
                               {{"in.txt", input_line}},
                               {"1", "S", "1", "1", "1", "in.txt"},
                               1,
                               "\n nieprawidlowe parametry wywolania ",
                               "\n parametry wywolania OK"},
                      HeldCase{"ldk_result",
                               LDK_PATH,
                               "wynik.txt",
                               {{"in.txt", input_line},
                                {"wynik.txt", "ok OTHER RUN'S ARTICLE    *\r\n"}},
                               {"1", "S", "1", "1", "1", "in.txt"},
                               4,
                               "\n parametry wywolania OK\n nie mozna otworzyc pliku wynik.txt",
                               "\n parametry wywolania OK"}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace ktnet
