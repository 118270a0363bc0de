// Any input report answering a PLU request: when the answer is valid, rdk writes exactly that
// record's line and one "*"; otherwise it ends with its no-answer message and status 2 and
// writes no line. The input is the 255-byte report (shorter inputs are padded with zeros).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "link/hid_port.hpp"
#include "plu/plu_line.hpp"
#include "reader/reader.hpp"
#include "scratch_dir.hpp"

using namespace ktnet;

namespace {

// A controller that answers the opening frame with an empty report and every PLU request
// with the fuzzed one.
class FuzzDevice final : public HidDevice {
public:
    explicit FuzzDevice(const Report& answer) : answer_(answer) {}
    std::optional<std::wstring> product_string() override { return L"KT-NET CONTROLLER"; }
    PortStatus claim() override { return Done{}; }
    PortStatus discard_pending() override { return Done{}; }
    PortStatus write_report(std::span<const std::uint8_t, report_size>) override {
        ++writes_;
        return Done{};
    }
    PortResult<ReadOutcome> read_report(std::span<std::uint8_t, report_size> report,
                                        std::chrono::milliseconds) override {
        if (writes_ == 1) {
            std::fill(report.begin(), report.end(), std::uint8_t{0});
        } else {
            std::copy(answer_.begin(), answer_.end(), report.begin());
        }
        return ReadOutcome::received;
    }

private:
    const Report& answer_;
    int writes_ = 0;
};

class FuzzList final : public HidInterfaceList {
public:
    explicit FuzzList(const Report& answer) : answer_(answer) {}
    Lookup lookup(unsigned index) override {
        if (index != 0) return {};
        return {Lookup::Kind::present, "/dev/fuzz", {}};
    }
    PortResult<std::unique_ptr<HidDevice>> open(unsigned) override {
        return std::unique_ptr<HidDevice>(std::make_unique<FuzzDevice>(answer_));
    }

private:
    const Report& answer_;
};

class FuzzPort final : public HidPort {
public:
    explicit FuzzPort(const Report& answer) : answer_(answer) {}
    PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() override {
        return std::unique_ptr<HidInterfaceList>(std::make_unique<FuzzList>(answer_));
    }

private:
    const Report& answer_;
};

// The record a valid answer carries: status not 5, answer byte 0 the head 0x7C, byte 4 the
// code 0xD0, and the answer, with each "~x" pair standing for x + 0x7C, holding at least 77
// bytes before its first terminator 0x7D not taken by a pair (the scan gives up after position
// 249, keeping the byte it stopped at). The same answer to every request shows the scale's own
// way, so its checksum does not matter here, nor its address byte unless it names another
// scale (1-9, 0x81-0x89, all but 1S1's own 0x81); its PLU number must be 7, or 0 for a scale
// that numbers unknown PLUs 0.
std::optional<std::vector<std::uint8_t>> valid_record(const Report& report) {
    const std::uint8_t* answer = report.data() + 2;
    if (report[1] == 5 || answer[0] != 0x7C || answer[4] != 0xD0) return std::nullopt;
    std::vector<std::uint8_t> record(answer, answer + 4);
    std::size_t at = 4;
    for (; at <= 249 && answer[at] != 0x7D; ++at) {
        if (answer[at] == 0x7E) {
            ++at;
            record.push_back(static_cast<std::uint8_t>(answer[at] + 0x7C));
        } else {
            record.push_back(answer[at]);
        }
    }
    record.push_back(answer[at]);
    if (record.size() < 77) return std::nullopt;
    const unsigned plu = record[6] | record[7] << 8 | record[8] << 16;
    if (plu != 7 && plu != 0) return std::nullopt;
    const std::uint8_t a = record[2];
    const bool names_a_scale = (a >= 0x01 && a <= 0x09) || (a >= 0x81 && a <= 0x89);
    if (names_a_scale && a != 0x81) return std::nullopt;
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Report report{};
    std::copy_n(data, std::min(size, report.size()), report.begin());
    const auto record = valid_record(report);

    // rdk keeps what its output held until a record arrives: start from no file.
    const auto path = fuzzing::scratch() / "rdk.txt";
    std::filesystem::remove(path);
    const std::string file = path.string();
    const std::vector<std::string_view> args = {"1", "S", "1", "7", "7", file};
    FuzzPort port(report);
    std::ostringstream console;
    const int status = run_reader(args, port, console);

    std::string expected_console = "\nparametry wywolania OKwykryto urzadzenie kt-net\n";
    std::string expected_file;
    if (record) {
        const FormattedLine line =
            format_line(ScaleAddress::parse("1S1").value(),
                        std::span<const std::uint8_t, record_frame_length>(record->data(), 77));
        if (line[140] != '\r' || line[141] != '\n') std::abort();
        for (const std::uint8_t b : line) {  // stored in text mode: each LF as CR LF
            if (b == '\n') expected_file += '\r';
            expected_file += static_cast<char>(b);
        }
        expected_console += "*";
    } else {
        expected_console += "\nbrak prawid\xC5\x82owej odpowiedzi z wagi";
    }
    if (status != (record ? 0 : 2)) std::abort();
    if (console.str() != expected_console) std::abort();
    if (fuzzing::file_bytes(path) != expected_file) std::abort();
    return 0;
}
