// Every fault the simulated controller can inject, at every position of a three-record run,
// for both programs, and the same wrong answer on two exchanges in a row, and an answer later
// than the time-out. Each cell checks the console, the exit status, the file the program
// keeps, the scale's records and the frames the controller saw. The expected outcome of a
// cell follows from what each fault does to one exchange (effect_of) and from how each
// program checks an answer (takes_answer, asks_again), walked request by request: nothing is
// listed per cell.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <tuple>

#include "link/session.hpp"
#include "loader/loader.hpp"
#include "plu/plu_line.hpp"
#include "reader/reader.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;
using sim::RecordBody;

enum class Program { rdk, ldk };

// Exchange 0 is the opening frame; records 1..3 follow.
constexpr std::size_t record_count = 3;
constexpr std::array<std::size_t, 4> positions = {0, 1, 2, 3};
// A stalled answer is given up after a short wait here, not the programs' 10 s.
constexpr std::chrono::milliseconds time_out = 30ms;

// What a fault does to one exchange.
struct Effect {
    bool carried_out;     // the scale did what the frame asked
    bool answer_arrives;  // write and read succeeded within the time-out, and the status is not 5
    bool head_and_code;   // the answer begins with the frame head and carries the right code
    bool whole_record;    // the answer unescapes to at least a whole record's 77 bytes
    bool lasts;           // every later exchange fails as well
    bool bad_record;      // the record's checksum or PLU number fails: rdk asks again
    bool from_elsewhere;  // the answer carries another address byte: both ask again
};

constexpr Effect clean = {true, true, true, true, false, false, false};

constexpr Effect effect_of(const sim::Fault& fault) {
    // clang-format off
    switch (fault.kind) {
        case FaultKind::status5:       return {false, false, false, false, false, false, false};
        case FaultKind::wrong_code:    return {true,  true,  false, true,  false, false, false};
        case FaultKind::short_answer:  return {true,  true,  true,  false, false, false, false};
        case FaultKind::garbage:       return {true,  true,  false, false, false, false, false};
        // No terminator is no reason to refuse: every byte of the record came.
        case FaultKind::no_terminator: return clean;
        case FaultKind::failed_write:  return {false, false, false, false, false, false, false};
        case FaultKind::failed_read:   return {true,  false, false, false, false, false, false};
        case FaultKind::unplugged:     return {false, false, false, false, true,  false, false};
        // Given up on when it comes after the time-out, as a stall is.
        case FaultKind::latency:       return fault.delay < time_out ? clean
                                           : Effect{true, false, false, false, false, false, false};
        case FaultKind::stray:         return clean;
        case FaultKind::wrong_plu:     return {true,  true,  true,  true,  false, true,  false};
        case FaultKind::bad_checksum:  return {true,  true,  true,  true,  false, true,  false};
        case FaultKind::stall:         return {true,  false, false, false, false, false, false};
        case FaultKind::wrong_address: return {true,  true,  true,  true,  false, false, true};
    }
    // clang-format on
    return {};
}

// rdk needs a whole record; ldk's acknowledgement check reads only the head and the code.
bool takes_answer(Program program, const Effect& e) {
    return e.answer_arrives && e.head_and_code && (program == Program::ldk || e.whole_record);
}

// An answer that is there but not the request's own is asked for again, up to the bound.
bool asks_again(Program program, const Effect& e) {
    return e.from_elsewhere || (program == Program::rdk && e.bad_record);
}

struct Outcome {
    std::size_t confirmed = record_count;  // records starred, written or logged "ok"
    bool stopped = false;                  // the run ended at record confirmed + 1
    bool stopped_record_stored = false;    // ldk: the scale stored that record all the same
    std::size_t exchanges = 0;             // the opening included
};

// One cell's faults, on consecutive exchanges from its position.
struct Injection {
    std::string name;
    std::vector<sim::Fault> faults;
};

Outcome expected_outcome(Program program, const Injection& injection, std::size_t position) {
    std::map<std::size_t, sim::Fault> at;
    for (std::size_t i = 0; i < injection.faults.size(); ++i)
        at.emplace(position + i, injection.faults[i]);
    const auto effect_at = [&](std::size_t exchange) {
        const auto it = at.find(exchange);
        return it == at.end() ? clean : effect_of(it->second);
    };
    // The opening frame's answer is never looked at.
    if (effect_at(0).lasts) return {.confirmed = 0, .stopped = true, .exchanges = 1};
    std::size_t exchange = 1;
    for (std::size_t record = 1; record <= record_count; ++record) {
        bool stored = false;
        for (unsigned request = 1;; ++request) {
            const Effect e = effect_at(exchange++);
            stored = stored || e.carried_out;
            const Outcome stop{record - 1, true, stored, exchange};
            if (e.lasts || !takes_answer(program, e)) return stop;
            if (!asks_again(program, e)) break;
            if (request == record_requests) return stop;
        }
    }
    return {.exchanges = exchange};
}

// The text-mode rule: every LF is stored as CR LF.
std::string stored_as_text(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        if (b == '\n') out += '\r';
        out += static_cast<char>(b);
    }
    return out;
}

const ScaleAddress scale = testing::address("2T5");
const std::vector<std::string> scale_args = {"2", "T", "5", "1", "3"};

// Random records for PLU 1..3 that can travel through a text file, each with the four
// framing bytes in its name so that every frame needs escaping.
std::vector<RecordBody> run_records() {
    std::mt19937 rng(8);
    std::vector<RecordBody> bodies;
    for (std::uint32_t plu = 1; plu <= record_count; ++plu) {
        RecordBody body = testing::random_record(rng, plu);
        testing::make_transferable(body);
        for (std::size_t i = 0; i < 4; ++i) {
            body[name_frame_byte - sim::record_body_offset + i] =
                static_cast<std::uint8_t>(0x7C + i);
        }
        bodies.push_back(body);
    }
    return bodies;
}

// The line rdk writes for a record, as stored on disk.
std::string reader_file_line(const RecordBody& body) {
    std::array<std::uint8_t, record_frame_length> frame{};
    frame[0] = frame_head;
    frame[1] = frame_head;
    frame[command_index] = answer_plu;
    std::copy(body.begin(), body.end(), frame.begin() + sim::record_body_offset);
    frame[record_frame_length - 1] = frame_terminator;
    return stored_as_text(format_line(scale, frame));
}

// What the scale holds after ldk sent the line of a record: byte 36 is sent as 0, and byte 65,
// written in decimal, comes back read as BCD.
RecordBody as_loaded(RecordBody body) {
    body[36 - sim::record_body_offset] = 0;
    auto& b65 = body[65 - sim::record_body_offset];
    b65 = static_cast<std::uint8_t>(16 * (b65 / 10) + b65 % 10);
    return body;
}

std::string result_line(std::string_view status, const RecordBody& body) {
    const auto name = body.begin() + (name_frame_byte - sim::record_body_offset);
    return std::string(status) + " " + std::string(name, name + name_length) + " *\r\n";
}

const std::string found = "wykryto urzadzenie kt-net\n";

using Cell = std::tuple<Program, Injection, std::size_t>;

std::vector<Injection> injections() {
    std::vector<Injection> all;
    for (const FaultKind kind : sim::all_fault_kinds) {
        std::string name;
        for (const char c : sim::fault_kind_name(kind)) name += c == '-' ? '_' : c;
        all.push_back({name, {{kind, 500us}}});
    }
    all.push_back({"bad_checksum_twice", {{FaultKind::bad_checksum}, {FaultKind::bad_checksum}}});
    all.push_back({"wrong_plu_twice", {{FaultKind::wrong_plu}, {FaultKind::wrong_plu}}});
    all.push_back({"late_past_the_time_out", {{FaultKind::latency, time_out * 3 / 2}}});
    return all;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
protected:
    testing::ScratchDir dir;
    sim::SimulatedController controller;
    sim::SimPort port = sim::port_with_controller(controller);
    std::ostringstream console;
    const std::vector<RecordBody> bodies = run_records();
    // A record the run never touches, present before and after.
    const RecordBody bystander = [] {
        std::mt19937 rng(3);
        return testing::random_record(rng, 700);
    }();

    int run(Program program, const std::filesystem::path& file) {
        std::vector<std::string> args = scale_args;
        args.push_back(file.string());
        const std::vector<std::string_view> views(args.begin(), args.end());
        const RunContext context{.answer_timeout = time_out};
        return program == Program::rdk
                   ? run_reader(views, port, console, context)
                   : run_loader(views, port, console, dir / "wynik.txt", context);
    }
};

TEST_P(FaultMatrix, FilesHoldExactlyTheConfirmedRecords) {
    const auto [program, injection, position] = GetParam();
    const Outcome expected = expected_outcome(program, injection, position);
    auto& records = controller.add_scale(scale).records;
    records[700] = bystander;
    std::map<std::uint32_t, RecordBody> scale_after = records;
    for (std::size_t i = 0; i < injection.faults.size(); ++i)
        controller.inject(position + i, injection.faults[i]);

    const std::string stars(expected.confirmed, '*');
    std::string console_after, file_after;
    std::filesystem::path file, argument;
    if (program == Program::rdk) {
        for (std::uint32_t plu = 1; plu <= record_count; ++plu) records[plu] = bodies[plu - 1];
        scale_after = records;
        file = argument = dir / "out.txt";
        console_after = "\nparametry wywolania OK" + found + stars +
                        (expected.stopped ? "\nbrak prawid\xC5\x82owej odpowiedzi z wagi" : "");
        for (std::size_t i = 0; i < expected.confirmed; ++i)
            file_after += reader_file_line(bodies[i]);
    } else {
        argument = dir / "in.txt";
        std::string input_text;
        for (const auto& body : bodies) input_text += reader_file_line(body);
        testing::write_bytes(argument, input_text);
        file = dir / "wynik.txt";
        console_after = "\n parametry wywolania OK" + found + stars +
                        (expected.stopped ? "\nbrak prawidlowej odpowiedzi wagi" : "");
        for (std::size_t i = 0; i < expected.confirmed; ++i) {
            file_after += result_line("ok", bodies[i]);
            scale_after[static_cast<std::uint32_t>(i + 1)] = as_loaded(bodies[i]);
        }
        if (expected.stopped) {
            const RecordBody& refused = bodies[expected.confirmed];
            file_after += result_line("er", refused);
            if (expected.stopped_record_stored) {
                scale_after[static_cast<std::uint32_t>(expected.confirmed + 1)] =
                    as_loaded(refused);
            }
        }
    }

    const int status = run(program, argument);

    EXPECT_EQ(console.str(), console_after);
    EXPECT_EQ(status, expected.stopped ? 2 : 0);
    EXPECT_EQ(testing::read_bytes(file), file_after);
    EXPECT_EQ(records, scale_after);
    // Nothing is asked of the scale after the record the run stopped at.
    EXPECT_EQ(controller.exchanges(), expected.exchanges);
    EXPECT_EQ(controller.violations(), std::vector<std::string>{});
}

std::string cell_name(const ::testing::TestParamInfo<Cell>& cell) {
    const auto& [program, injection, position] = cell.param;
    constexpr std::array<const char*, 4> where = {"_at_opening", "_at_first", "_at_middle",
                                                  "_at_last"};
    return (program == Program::rdk ? "rdk_" : "ldk_") + injection.name + where[position];
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix,
                         ::testing::Combine(::testing::Values(Program::rdk, Program::ldk),
                                            ::testing::ValuesIn(injections()),
                                            ::testing::ValuesIn(positions)),
                         cell_name);

}  // namespace
}  // namespace ktnet
