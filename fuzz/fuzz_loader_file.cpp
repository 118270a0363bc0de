// Any input file: ldk sends exactly the lines a text-mode reading finds whole within the range,
// each as a well-formed frame (the simulated controller checks every report as a strict peer),
// never a line longer than 142 characters, and logs each one sent in "wynik.txt"; or, when one
// of those lines holds a character the reader never writes in a number column, it sends
// nothing at all and leaves "wynik.txt" alone.
// Input: byte 0 chooses first (1..4), byte 1 the length of the range (0..7), the rest is the
// file.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "loader/loader.hpp"
#include "plu/field_table.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"
#include "scratch_dir.hpp"
#include "sim/sim_port.hpp"

using namespace ktnet;

namespace {

// The file's lines as text-mode reading delivers them: the file ends at the first 0x1A, a CR
// before a LF is dropped, each LF ends a line, and a last line without a LF counts.
std::vector<std::string> text_lines(std::string_view file) {
    file = file.substr(0, file.find('\x1A'));
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
        if (file[i] == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += file[i];
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return -1;
    const std::uint32_t first = 1 + data[0] % 4;
    const std::uint32_t last = first + data[1] % 8;
    const std::string_view file(reinterpret_cast<const char*>(data + 2), size - 2);

    // The run as it must go: lines 1..last are read, those from first on are sent; an empty
    // line, a line starting with NUL, one longer than 142 characters or the file's end stops it.
    const std::vector<std::string> lines = text_lines(file);
    std::vector<std::string> sent;
    bool stopped = false;
    for (std::uint32_t n = 1; n <= last && !stopped; ++n) {
        const std::string* line = n <= lines.size() ? &lines[n - 1] : nullptr;
        stopped = !line || line->empty() || (*line)[0] == '\0' || line->size() > 142;
        if (!stopped && n >= first) sent.push_back(*line);
    }
    const bool refused = std::any_of(sent.begin(), sent.end(), [](const std::string& line) {
        return find_number_column_fault(line).has_value();
    });
    if (refused) sent.clear();
    std::string expected_results;
    for (std::string name : sent) {
        name = name.size() > 16 ? name.substr(16, 24) : "";
        name.resize(24, ' ');  // columns past a short line's end count as spaces
        expected_results += "ok " + name + " *\r\n";
    }

    const auto input = fuzzing::scratch() / "in.txt";
    const auto results = fuzzing::scratch() / "wynik.txt";
    fuzzing::write_file(input, data + 2, size - 2);
    std::filesystem::remove(results);  // a refused run leaves it as it was: start with none
    sim::SimulatedController controller;
    const ScaleAddress id = ScaleAddress::parse("3S2").value();
    controller.add_scale(id);
    sim::SimPort port = sim::port_with_controller(controller);
    const std::string input_name = input.string(), first_text = std::to_string(first),
                      last_text = std::to_string(last);
    const std::vector<std::string_view> args = {"3", "s", "2", first_text, last_text, input_name};
    std::ostringstream console;
    const int status = run_loader(args, port, console, results);

    if (!controller.violations().empty()) std::abort();
    if (refused) {
        if (controller.exchanges() != 0 || status != 3 || std::filesystem::exists(results) ||
            console.str() != "\n parametry wywolania OK\n bledne dane w zbiorze wejsciowym..") {
            std::abort();
        }
        return 0;
    }
    if (controller.exchanges() != 1 + sent.size()) std::abort();
    if (status != (stopped ? 3 : 0)) std::abort();
    if (console.str() != "\n parametry wywolania OKwykryto urzadzenie kt-net\n" +
                             std::string(sent.size(), '*') +
                             (stopped ? "\n bledne dane w zbiorze wejsciowym.." : "")) {
        std::abort();
    }
    if (fuzzing::file_bytes(results) != expected_results) std::abort();
    if (!sent.empty()) {  // the last frame is the last line sent, to the address asked for
        RecordFrame record{};
        if (!parse_line(sent.back(), record)) std::abort();
        FrameBuffer frame{};
        build_store_frame(0x82, record, frame);
        checksum(record_frame_length, frame);
        if (!std::equal(frame.begin(), frame.begin() + record_frame_length,
                        controller.last_frame().begin(), controller.last_frame().end())) {
            std::abort();
        }
    }
    return 0;
}
