// rdk and ldk as processes in the surroundings users give them, each run as the user's own
// command line: a console that goes away, standard output closed, a FIFO for a file, a link
// planted as "wynik.txt", any locale, a file-size limit. Runs that need a controller go
// through ktnet-emu with one scale, 1 S 1, whose unknown PLUs read as empty records.
#include <algorithm>

#include "emu_support.hpp"

namespace ktnet {
namespace {

using namespace testing;  // the shared messages

struct EnvironmentCase {
    const char* what = "";
    std::map<std::string, std::string> before{};  // files made before the run
    std::string script{};                         // bash; exit 77 when it cannot run here
    int exit_status = 0;
    std::string output{};                        // what the script prints
    std::map<std::string, std::string> after{};  // files' exact contents after the run
};

// What every script may use. $DEFAULTS starts the program with SIGPIPE and SIGXFSZ at their
// defaults, whatever the test runner hands down, so that only the program's own handling can
// keep it alive.
std::string with_preamble(const std::string& script) {
    return std::string("RDK='") + RDK_PATH + "' LDK='" + LDK_PATH + "' EMU='" + KTNET_EMU_PATH +
           "'\n"
           "NAME=$'KT-NET CONTROLLER \\xc5\\x81'  # goes on in UTF-8\n"
           "emu() { \"$EMU\" --scale 1:S:1 \"$@\"; }\n"
           "DEFAULTS='env --default-signal=PIPE,XFSZ'\n" +
           script;
}

std::string item_lines(int count) {
    std::string lines;
    for (int n = 1; n <= count; ++n) {
        lines += "1 S 01 xx00000" + std::to_string(n) + " ITEM " + std::to_string(n) + "\n";
    }
    return lines;
}
// Lines of "wynik.txt" for items 1 to count: "ok ", 24 name characters, " *" and CR LF.
std::string accepted_items(int count) {
    std::string lines;
    for (int n = 1; n <= count; ++n) {
        std::string name = "ITEM " + std::to_string(n);
        name.resize(24, ' ');
        lines += "ok " + name + " *\r\n";
    }
    return lines;
}
// The lines rdk writes for PLUs 1 to count of an empty scale 1 S 1.
std::string empty_records(int count) {
    std::string lines;
    for (int n = 1; n <= count; ++n) {
        RecordFrame record{};
        const sim::RecordBody body = sim::empty_record(static_cast<std::uint32_t>(n));
        std::copy(body.begin(), body.end(), record.begin() + sim::record_body_offset);
        const FormattedLine line = format_line(address("1S1"), record);
        lines += std::string(line.begin(), line.end() - 1) + "\r\n";
    }
    return lines;
}

// Where a file first differs from what it should hold, with a few bytes of each from there;
// empty when it does not. A file of thousands of lines stays readable in a failure.
std::string difference(const std::string& want, const std::string& got) {
    const auto [w, g] = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
    if (w == want.end() && g == got.end()) return "";
    const auto at = static_cast<std::size_t>(w - want.begin());
    return "at byte " + std::to_string(at) + " of " + std::to_string(got.size()) + ": \"" +
           got.substr(at, 40) + "\" where \"" + want.substr(at, 40) + "\" belongs";
}

const std::string help =
    "\nnieprawidlowe parametry wywolania \nprawidlowo powinno byc \nrdk 1 S 1 1 999 rdk.txt"
    "\n rdk - nazwa programu\n 1   - numer kanalu w KT-NET \n S   - sekcja lub terminal "
    "\n 1   - numer sekcji lub terminala \n 1   - poczatkowe plu \n 999 - koncowe plu "
    "\n rdk.txt - nazwa pliku wyjsciowego";

class Surroundings : public Emulated, public ::testing::WithParamInterface<EnvironmentCase> {};

TEST_P(Surroundings, LeaveFilesWholeAndTheStatusTrue) {
    const EnvironmentCase& c = GetParam();
    for (const auto& [name, content] : c.before) write_bytes(dir / name, content);
    const auto r = run_process("/bin/bash", {"-c", with_preamble(c.script)}, dir.path());
    if (r.exit_status == 77) GTEST_SKIP() << "cannot run here: " << c.script;
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.output, c.output);
    for (const auto& [name, content] : c.after) {
        EXPECT_EQ(difference(content, read_bytes(dir / name)), "") << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Processes, Surroundings,
    ::testing::Values(
        // The reader of the pipe has gone before the program's first write.
        EnvironmentCase{.what = "rdk_console_gone",
                        .script = "emu -- $DEFAULTS \"$RDK\" 1 S 1 1 20 out.txt | true\n"
                                  "exit ${PIPESTATUS[0]}",
                        .after = {{"out.txt", empty_records(20)}}},
        EnvironmentCase{.what = "ldk_console_gone",
                        .before = {{"in.txt", item_lines(3)}},
                        .script = "emu -- $DEFAULTS \"$LDK\" 1 S 1 1 3 in.txt | true\n"
                                  "exit ${PIPESTATUS[0]}",
                        .after = {{"wynik.txt", accepted_items(3)}}},
        // Enough stars to fill the console's buffer while the output file is open: were the
        // file given descriptor 1, they would land in the middle of its lines.
        EnvironmentCase{.what = "rdk_stdout_closed",
                        .script = "emu -- \"$RDK\" 1 S 1 1 8200 out.txt >&-",
                        .after = {{"out.txt", empty_records(8200)}}},
        EnvironmentCase{.what = "rdk_output_fifo",
                        .script = "mkfifo out.txt && timeout 20 \"$RDK\" 1 S 1 1 3 out.txt",
                        .exit_status = 1,
                        .output = help},
        EnvironmentCase{.what = "ldk_input_fifo",
                        .script = "mkfifo in.txt && timeout 20 \"$LDK\" 1 S 1 1 3 in.txt",
                        .exit_status = 1,
                        .output = "\n nieprawidlowe parametry wywolania "},
        EnvironmentCase{.what = "ldk_result_file_a_planted_link",
                        .before = {{"in.txt", item_lines(1)}, {"victim.txt", "someone's\n"}},
                        .script = "ln -s victim.txt wynik.txt && \"$LDK\" 1 S 1 1 1 in.txt",
                        .exit_status = 4,
                        .output = ldk_ok + "\n nie mozna otworzyc pliku wynik.txt",
                        .after = {{"victim.txt", "someone's\n"}}},
        EnvironmentCase{.what = "rdk_locale_unset",
                        .script = "emu --product \"$NAME\" -- env -u LC_ALL -u LC_CTYPE -u LANG "
                                  "\"$RDK\" 1 S 1 1 1 out.txt",
                        .output = rdk_ok + found + "*"},
        EnvironmentCase{.what = "rdk_locale_c",
                        .script = "emu --product \"$NAME\" -- env LC_ALL=C \"$RDK\" 1 S 1 1 1 o",
                        .output = rdk_ok + found + "*"},
        EnvironmentCase{
            .what = "rdk_locale_posix",
            .script = "emu --product \"$NAME\" -- env LC_ALL=POSIX \"$RDK\" 1 S 1 1 1 o",
            .output = rdk_ok + found + "*"},
        EnvironmentCase{.what = "rdk_locale_latin2",
                        .script = "mkdir l && ln -s /usr/lib/locale/C.utf8 l/ && "
                                  "localedef -i pl_PL -f ISO-8859-2 l/pl_PL.ISO-8859-2 || exit 77\n"
                                  "emu --product \"$NAME\" -- env -u LC_ALL -u LC_CTYPE "
                                  "LOCPATH=\"$PWD/l\" LANG=pl_PL.ISO-8859-2 \"$RDK\" 1 S 1 1 1 o",
                        .output = rdk_ok + found + "*"},
        EnvironmentCase{
            .what = "ldk_locale_c",
            .before = {{"in.txt", item_lines(1)}},
            .script = "emu --product \"$NAME\" -- env LC_ALL=C \"$LDK\" 1 S 1 1 1 in.txt",
            .output = ldk_ok + found + "*"},
        // 1000 bytes hold six lines of 143; the seventh is cut back whole.
        EnvironmentCase{
            .what = "rdk_file_size_limit",
            .script = "emu -- $DEFAULTS prlimit --fsize=1000 \"$RDK\" 1 S 1 1 10 out.txt",
            .exit_status = 4,
            .output = rdk_ok + found + "******\nblad zapisu pliku wyjsciowego",
            .after = {{"out.txt", empty_records(6)}}},
        // The emulator's own save of 9 lines of 143 bytes goes over the limit: the scales'
        // memory stays as it was.
        EnvironmentCase{.what = "emu_file_size_limit",
                        .before = {{"scales.txt", item_lines(9)}},
                        .script = "$DEFAULTS prlimit --fsize=1000 \"$EMU\" --scales scales.txt -- "
                                  "true",
                        .exit_status = 70,
                        .after = {{"scales.txt", item_lines(9)}}},
        // 100 bytes hold three result lines of 31.
        EnvironmentCase{.what = "ldk_file_size_limit",
                        .before = {{"in.txt", item_lines(5)}},
                        .script = "emu -- $DEFAULTS prlimit --fsize=100 \"$LDK\" 1 S 1 1 5 in.txt",
                        .exit_status = 4,
                        .output = ldk_ok + found + "***\n blad zapisu pliku wynik.txt",
                        .after = {{"wynik.txt", accepted_items(3)}}}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace ktnet
