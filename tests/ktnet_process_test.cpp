// ktnet as processes, as scripts run it: inputs that are no PLU files at all, memory that must
// not grow with the input, and files that must be whole after a kill at any moment. Runs that
// need a controller go through ktnet-emu.
#include "emu_support.hpp"

namespace ktnet {
namespace {

using namespace testing;

struct ProcessCase {
    const char* what = "";
    std::string script{};  // bash; what it prints is compared
    std::string output{};
};

std::string with_preamble(const std::string& script) {
    return std::string("K='") + KTNET_PATH + "' EMU='" + KTNET_EMU_PATH +
           "'\n"
           "set -u\n"
           // A line of PLU n as the reader writes it.
           "line() { printf '1 S 01 xx%06d ARTICLE %-16d 003199 x 000000 000000 000000 "
           "000000 00 00 0 0 00 0 0 00 00 000000 000000 00 00 00000000000000 00 0\\r\\r\\n' "
           "\"$1\" \"$1\"; }\n"
           "lines() { for n in $(seq \"$1\"); do line \"$n\"; done; }\n"
           // The peak memory of a command in KiB, measured by ktnet-emu.
           "rss() { \"$EMU\" --no-controller --usage-file usage -- \"$@\" >/dev/null 2>&1; "
           "sed -n 's/max_rss_kb //p' usage; }\n"
           // Whether a file is whole: exactly the old or the new content.
           "whole() { cmp -s \"$1\" old || cmp -s \"$1\" new && echo whole || echo BROKEN; }\n" +
           script;
}

class KtnetProcess : public Emulated, public ::testing::WithParamInterface<ProcessCase> {};

TEST_P(KtnetProcess, AsAScriptSeesIt) {
    const auto r = run_process("/bin/bash", {"-c", with_preamble(GetParam().script)}, dir.path());
    EXPECT_EQ(r.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Processes, KtnetProcess,
    ::testing::Values(
        // A file without line ends is no PLU file: a message, never a memory that fills up.
        ProcessCase{"check_of_dev_zero", "\"$K\" check /dev/zero 2>&1; echo $?",
                    "ktnet check: cannot read /dev/zero: line 1 is not a PLU line: more than "
                    "4096 characters without a line end\n2\n"},
        ProcessCase{"load_of_dev_zero",
                    "\"$K\" load /dev/zero --to 1S1 --yes 2>&1 | head -1; echo ${PIPESTATUS[0]}",
                    "ktnet load: /dev/zero: line 1 is not a PLU line: more than 4096 characters "
                    "without a line end\n1\n"},
        ProcessCase{"resume_of_dev_zero",
                    "lines 3 > in.txt; \"$K\" load in.txt --to 1S1 --yes --resume /dev/zero "
                    "2>&1; echo $?",
                    "ktnet load: --resume: cannot read /dev/zero: line 1 is not a line of a "
                    "load's log\n2\n"},
        // Ten times the input, the same memory, give or take a megabyte.
        ProcessCase{"memory_flat_over_the_input",
                    "lines 3000 > small.txt; lines 1 > one.txt; head -c 10000000 /dev/zero | tr "
                    "'\\0' '\\n' > lf10.txt; head -c 1000000 /dev/zero | tr '\\0' '\\n' > lf1.txt\n"
                    "for c in 'check --json' 'load --to 1S1 --yes'; do\n"
                    "  a=$(rss \"$K\" $c lf1.txt); b=$(rss \"$K\" $c lf10.txt)\n"
                    "  [ $((b - a)) -lt 1024 ] && echo \"$c: flat\" || echo \"$c: $a KiB, then "
                    "$b KiB\"\n"
                    "done\n"
                    "\"$K\" export small.txt -o small.csv >/dev/null; for i in $(seq 10); do tail "
                    "-n +2 small.csv; done | sed '1i plu;name' > big.csv\n"
                    "a=$(rss \"$K\" export one.txt -o a.csv); b=$(rss \"$K\" export small.txt -o "
                    "b.csv)\n"
                    "[ $((b - a)) -lt 1024 ] && echo 'export: flat' || echo \"export: $a, $b\"\n"
                    "a=$(rss \"$K\" import a.csv -o a.txt); b=$(rss \"$K\" import big.csv -o "
                    "b.txt)\n"
                    "[ $((b - a)) -lt 5120 ] && echo 'import: flat' || echo \"import: $a, $b\"\n",
                    "check --json: flat\nload --to 1S1 --yes: flat\nexport: flat\nimport: flat\n"},
        // A kill at any moment of a write leaves the old file or the new, whole.
        ProcessCase{"kill_during_import_and_export",
                    "lines 8000 > in.txt; \"$K\" export in.txt -o new.csv >/dev/null\n"
                    "echo old > old; cp old out.csv; cp old out.txt; \"$K\" import new.csv -o new "
                    ">/dev/null\n"
                    "for i in $(seq 8); do\n"
                    "  \"$K\" import new.csv -o out.txt >/dev/null 2>&1 & p=$!; sleep "
                    "0.0$((RANDOM % 9)); kill -9 $p 2>/dev/null; wait $p 2>/dev/null\n"
                    "  whole out.txt\n"
                    "done | sort | uniq -c | sed 's/ *[0-9]* //'\n"
                    "cp new.csv new; for i in $(seq 8); do\n"
                    "  \"$K\" export in.txt -o out.csv >/dev/null 2>&1 & p=$!; sleep "
                    "0.0$((RANDOM % 9)); kill -9 $p 2>/dev/null; wait $p 2>/dev/null\n"
                    "  whole out.csv\n"
                    "done | sort | uniq -c | sed 's/ *[0-9]* //'\n",
                    "whole\nwhole\n"}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace ktnet
