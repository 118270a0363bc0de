// The built rdk and ldk as processes on this machine, which has no KT-NET controller.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ktnet
