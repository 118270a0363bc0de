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
           // The shop's store of this test alone.
           "export KTNET_STORE=\"$PWD/shop.db\"\n"
           // A line of PLU n as the reader writes it.
           "line() { printf '1 S 01 xx%06d ARTICLE %-16d 003199 x 000000 000000 000000 "
           "000000 00 00 0 0 00 0 0 00 00 000000 000000 00 00 00000000000000 00 0\\r\\r\\n' "
           "\"$1\" \"$1\"; }\n"
           "lines() { for n in $(seq \"$1\"); do line \"$n\"; done; }\n"
           // The peak memory of a command in KiB, measured by ktnet-emu.
           "rss() { \"$EMU\" --no-controller --usage-file usage -- \"$@\" >/dev/null 2>&1; "
           "sed -n 's/max_rss_kb //p' usage; }\n"
           // Whether a file is whole: exactly the old or the new content.
           "whole() { cmp -s \"$1\" old || cmp -s \"$1\" new && echo whole || echo BROKEN; }\n"
           // Three scales of three records each, and a shop file that names them.
           "printf '1S1 deli\\n1S2 wędliny\\n2T1 veg\\n' > shop; lines 3 > one.txt\n"
           "sed 's/^1 S 01/1 S 02/' one.txt > two.txt; sed 's/^1 S 01/2 T 01/' one.txt > "
           "three.txt\n"
           "cat one.txt two.txt three.txt > scales.txt\n"
           "emu3() { \"$EMU\" --scales scales.txt \"$@\"; }\n"
           "export K\n" +
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
        // Ten times the input, the same memory, give or take a megabyte. (A sanitizer build
        // keeps freed memory in quarantine, which is no memory in use: none is kept here.)
        ProcessCase{"memory_flat_over_the_input",
                    "export ASAN_OPTIONS=quarantine_size_mb=0:thread_local_quarantine_size_kb=0\n"
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

// What scripts and newcomers meet at the command line.
INSTANTIATE_TEST_SUITE_P(
    CommandLine, KtnetProcess,
    ::testing::Values(
        ProcessCase{"backup_makes_its_folder",
                    "emu3 -- \"$K\" backup deli --shop shop --plu 1-2 --dir new/sub >/dev/null "
                    "2>err; echo $?; grep made err; ls new/sub | sed 's/-.*//'",
                    "0\nktnet backup: made the folder new/sub\n1S1\n"},
        ProcessCase{"backup_into_a_file",
                    "touch f; \"$K\" backup deli --shop shop --dir f 2>&1; echo $?",
                    "ktnet backup: --dir: f is there, but not a folder\n2\n"},
        ProcessCase{"compare_with_all_and_a_plu_list",
                    "emu3 -- \"$K\" compare one.txt all --shop shop --plu 1-2,3 2>/dev/null; "
                    "echo $?",
                    "one.txt <> 1S1 deli: equal (3 PLUs)\none.txt <> 1S2 wędliny: equal (3 "
                    "PLUs)\none.txt <> 2T1 veg: equal (3 PLUs)\n0\n"},
        ProcessCase{"controller_gone_stops_the_run",
                    "emu3 --fault 3:unplugged -- \"$K\" backup all --shop shop --plu 1-3 --dir b "
                    "2>err | grep -c 'not started'; echo ${PIPESTATUS[0]}; grep -c 'went away' "
                    "err",
                    "2\n2\n1\n"},
        ProcessCase{
            "json_document_of_an_error", "\"$K\" backup 1S1 --json 2>/dev/null; echo $?",
            "{\n  \"error\": \"no KT-NET controller among 0 HID devices\",\n  \"errors\": "
            "[\n    \"no KT-NET controller among 0 HID devices\"\n  ],\n  \"status\": 2\n}\n2\n"},
        ProcessCase{"quiet_says_only_the_summary",
                    "emu3 -- \"$K\" backup deli --shop shop --plu 1-2 --quiet 2>err | wc -l; wc -c "
                    "< err",
                    "2\n0\n"},
        ProcessCase{
            "wait_for_a_held_controller",
            "emu3 --latency-us 20000 -- bash -c '\"$K\" backup deli --shop shop --plu 1-40 "
            "--quiet >/dev/null & sleep 0.4; \"$K\" backup deli --shop shop --plu 1 >/dev/null "
            "2>&1; echo \"held $?\"; \"$K\" backup deli --shop shop --plu 1 --wait=0 >/dev/null "
            "2>&1; echo \"no wait $?\"; \"$K\" backup deli --shop shop --plu 1 --wait --quiet "
            ">/dev/null; echo \"waited $?\"; wait'",
            "held 5\nno wait 5\nwaited 0\n"},
        ProcessCase{"a_price_list_onto_a_scale_the_store_does_not_know",
                    "{ echo 'plu;c41_46'; for i in $(seq 30); do echo \"$i;1\"; done; } > p.csv; "
                    "\"$K\" load p.csv --to 1S1 --yes 2>err; echo $?; grep -c 'fill it in with: "
                    "ktnet backup 1S1$' err; \"$K\" check p.csv >/dev/null 2>&1; echo $?",
                    "1\n1\n1\n"},
        ProcessCase{
            "a_stop_names_every_scale",
            "lines 20 > in.txt; emu3 --latency-us 20000 --pid-file pid -- \"$K\" load in.txt "
            "--to all --shop shop --yes --log log.jsonl >out 2>err & e=$!\n"
            "for i in $(seq 1000); do [ \"$(wc -l < log.jsonl 2>/dev/null || echo 0)\" -ge 25 "
            "] && break; sleep 0.02; done; kill -INT $(cat pid); wait $e; echo $?\n"
            "grep -cE '^(1S1|1S2|2T1) ' out; grep -c 'stopped\\|not started' out; grep -c "
            "'to go on: ktnet load in.txt --to all --yes --shop shop --resume' err",
            "130\n3\n2\n1\n"},
        ProcessCase{
            "versions_and_errors_of_the_command_line",
            "\"$K\" --version | sed 's/ [0-9.]*$//'; \"$EMU\" --version | sed 's/ [0-9.]*$//'; "
            "\"$K\" load 2>&1 | head -1",
            "ktnet\nktnet-emu\nktnet load: FILE is required\n"}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace ktnet
