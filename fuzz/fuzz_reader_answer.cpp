// Any input report answering a PLU request: when the answer is valid, rdk writes exactly that
// record's line and one "*"; otherwise it ends with its no-answer message and status 2 and
// writes no line. The input is the 255-byte report (shorter inputs are padded with zeros).
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "link/hid_port.hpp"
#include "plu/plu_line.hpp"
#include "reader/reader.hpp"
#include "scratch_dir.hpp"

using namespace ktnet;

namespace {

// A controller that answers the opening frame with an empty report and the PLU request with
// the fuzzed one.
class FuzzDevice final : public HidDevice {
public:
    explicit FuzzDevice(const Report& answer) : answer_(answer) {}
    std::optional<std::wstring> product_string() override { return L"KT-NET CONTROLLER"; }
    bool write_report(std::span<const std::uint8_t, report_size>) override {
        ++writes_;
        return true;
    }
    bool read_report(std::span<std::uint8_t, report_size> report) override {
        if (writes_ == 1) {
            std::fill(report.begin(), report.end(), std::uint8_t{0});
        } else {
            std::copy(answer_.begin(), answer_.end(), report.begin());
        }
        return true;
    }

private:
    const Report& answer_;
    int writes_ = 0;
};

class FuzzList final : public HidInterfaceList {
public:
    explicit FuzzList(const Report& answer) : answer_(answer) {}
    Lookup lookup(unsigned index) override { return index == 0 ? Lookup::present : Lookup::absent; }
    std::unique_ptr<HidDevice> open(unsigned) override {
        return std::make_unique<FuzzDevice>(answer_);
    }

private:
    const Report& answer_;
};

class FuzzPort final : public HidPort {
public:
    explicit FuzzPort(const Report& answer) : answer_(answer) {}
    std::unique_ptr<HidInterfaceList> list_interfaces() override {
        return std::make_unique<FuzzList>(answer_);
    }

private:
    const Report& answer_;
};

// The record carried by a valid answer: status not 5, answer byte 0 the head 0x7C, byte 4 the
// code 0xD0, and the answer, with each "~x" pair standing for x + 0x7C, runs to a terminator
// 0x7D (the first one not taken by a pair; the scan gives up after position 249, keeping the
// byte it stopped at) at least 77 bytes from its start.
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
    if (record.size() < 77 || record.back() != 0x7D) return std::nullopt;
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Report report{};
    std::copy_n(data, std::min(size, report.size()), report.begin());
    const auto record = valid_record(report);

    const auto path = fuzzing::scratch() / "rdk.txt";
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
