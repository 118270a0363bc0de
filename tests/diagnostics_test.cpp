// Each way a run can end without success says why in one English line on standard error, and
// standard output stays byte for byte what it always was. The programs run as processes, under
// ktnet-emu where they need a controller; their standard error goes to err.txt.
#include "emu_support.hpp"

namespace ktnet {
namespace {

using namespace testing;  // the shared messages

struct DiagnosisCase {
    const char* what;
    std::string script;  // bash, with $RDK, $LDK and emu (ktnet-emu with scale 1 S 1)
    std::string output;  // the program's standard output
    std::string line;    // its standard error
};

std::string preamble(const std::string& script) {
    return std::string("export RDK='") + RDK_PATH + "' LDK='" + LDK_PATH + "' EMU='" +
           KTNET_EMU_PATH + "'\nemu() { \"$EMU\" --scale 1:S:1 \"$@\"; }\n" + script;
}

class Diagnostics : public Emulated, public ::testing::WithParamInterface<DiagnosisCase> {};

TEST_P(Diagnostics, OneLineOnStandardErrorSaysWhy) {
    write_bytes(dir / "in.txt", "1 S 01 xx000001 ONE\n1 S 01 xx000002 TWO\n");
    // A price typed one column too far right: column 41 holds a space.
    write_bytes(dir / "bad.txt",
                "1 S 01 xx000001 ONE\n1 S 01 xx000002 TWO" + std::string(22, ' ') + " 00450\n");
    const auto r = run_process("/bin/bash", {"-c", preamble(GetParam().script)}, dir.path());
    EXPECT_EQ(r.output, GetParam().output);
    EXPECT_EQ(read_bytes(dir / "err.txt"), GetParam().line + "\n");
}

const std::string rdk = "\"$RDK\" 1 S 1 1 2 out.txt 2>err.txt";
const std::string ldk = "\"$LDK\" 1 S 1 1 2 in.txt 2>err.txt";
const std::string help =
    "\nnieprawidlowe parametry wywolania \nprawidlowo powinno byc \nrdk 1 S 1 1 999 rdk.txt"
    "\n rdk - nazwa programu\n 1   - numer kanalu w KT-NET \n S   - sekcja lub terminal "
    "\n 1   - numer sekcji lub terminala \n 1   - poczatkowe plu \n 999 - koncowe plu "
    "\n rdk.txt - nazwa pliku wyjsciowego";
const std::string bad_input = "\n bledne dane w zbiorze wejsciowym..";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Processes, Diagnostics,
    ::testing::Values(
        DiagnosisCase{"no_controller", "\"$EMU\" --no-controller -- bash -c '" + rdk + "'",
            rdk_ok + rdk_no_answer, "rdk: no KT-NET controller among 0 HID devices"},
        DiagnosisCase{"device_not_opened",
            "\"$EMU\" --unopenable-device --no-controller -- bash -c '" + rdk + "'",
            rdk_ok + other + rdk_no_answer,
            "rdk: no KT-NET controller among 1 HID device; /dev/hidraw0 could not be opened: "
            "Failed to open a device with path '/dev/hidraw0': No such file or directory"},
        DiagnosisCase{"controller_held",
            "emu --latency-us 20000 -- bash -c '\"$RDK\" 1 S 1 1 50 first.txt >/dev/null 2>&1 & "
            "i=0; until [ -s first.txt ] || [ $i -ge 500 ]; do sleep 0.01; i=$((i+1)); done; " + ldk + "; wait'",
            ldk_ok + "\nsterownik kt-net jest zajety przez inny program",
            "ldk: the KT-NET controller /dev/hidraw0 is held by another program (another rdk, "
            "ldk or ktnet run); nothing was sent"},
        DiagnosisCase{"status_5", "emu --fault 1:status5 -- bash -c '" + rdk + "'",
            rdk_ok + found + rdk_no_answer,
            "rdk: PLU 1 from 1S1: status 5 (the scale did not answer)"},
        DiagnosisCase{"wrong_code", "emu --fault 2:wrong-code -- bash -c '" + rdk + "'",
            rdk_ok + found + "*" + rdk_no_answer, "rdk: PLU 2 from 1S1: wrong answer code 0xD1"},
        DiagnosisCase{"short_answer", "emu --fault 1:short -- bash -c '" + rdk + "'",
            rdk_ok + found + rdk_no_answer, "rdk: PLU 1 from 1S1: short answer (21 bytes)"},
        DiagnosisCase{"time_out", "emu --fault 1:stall -- bash -c '" + rdk + "'",
            rdk_ok + found + rdk_no_answer, "rdk: PLU 1 from 1S1: no answer within 10 s"},
        DiagnosisCase{"transfer_failed", "emu --fault 1:write-fails -- bash -c '" + rdk + "'",
            rdk_ok + found + rdk_no_answer,
            "rdk: PLU 1 from 1S1: the report could not be written: Input/output error"},
        DiagnosisCase{"plu_asked_and_answered",
            "emu --fault 1:wrong-plu --fault 2:bad-checksum --fault 3:wrong-address --fault 4:wrong-plu "
            "--fault 5:wrong-plu -- bash -c '" + rdk + "'",
            rdk_ok + found + rdk_no_answer, "rdk: PLU 1 from 1S1: PLU 2 answered for PLU 1 (5 requests)"},
        DiagnosisCase{"address_asked_and_answered",
            "emu --fault 1:wrong-address --fault 2:wrong-address --fault 3:wrong-address "
            "--fault 4:wrong-address --fault 5:wrong-address -- bash -c '" + ldk + "'",
            ldk_ok + found + ldk_not_accepted,
            "ldk: in.txt:1: PLU 1 not accepted by 1S1: answer from address 0x82 for 0x81 (5 requests)"},
        DiagnosisCase{"record_refused", "emu --fault 2:status5 -- bash -c '" + ldk + "'",
            ldk_ok + found + "*" + ldk_not_accepted,
            "ldk: in.txt:2: PLU 2 not accepted by 1S1: status 5 (the scale did not answer)"},
        DiagnosisCase{"output_not_opened", "\"$RDK\" 1 S 1 1 2 no/out.txt 2>err.txt", help,
            "rdk: invalid arguments: cannot open the output file no/out.txt: No such file or "
            "directory"},
        DiagnosisCase{"output_not_written", "emu -- bash -c '\"$RDK\" 1 S 1 1 2 /dev/full 2>err.txt'",
            rdk_ok + found + "\nblad zapisu pliku wyjsciowego",
            "rdk: cannot write /dev/full: No space left on device"},
        DiagnosisCase{"not_a_plu_file", "\"$LDK\" 1 S 1 1 2 bad.txt 2>err.txt", ldk_ok + bad_input,
            "ldk: bad.txt:2: column 41 holds ' ' where a digit belongs"}),
    [](const auto& p) { return std::string(p.param.what); });
// clang-format on

}  // namespace
}  // namespace ktnet
