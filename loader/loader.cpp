#include "loader.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "cli/controller_run.hpp"
#include "cli/exit_status.hpp"
#include "cli/scale_arguments.hpp"
#include "cli/text_file.hpp"
#include "link/session.hpp"
#include "loader_messages.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

namespace {

namespace msg = loader_messages;

// "ok " or "er ", the 24 name bytes, " *" and LF: 31 bytes on disk.
using ResultLine = std::array<std::uint8_t, 3 + name_length + 3>;

ResultLine result_line(bool accepted, const RecordFrame& record) {
    ResultLine line{};
    const std::string_view head = accepted ? "ok " : "er ";
    constexpr std::string_view tail = " *\n";
    auto out = std::copy(head.begin(), head.end(), line.begin());
    out = std::copy_n(record.begin() + name_frame_byte, name_length, out);
    std::copy(tail.begin(), tail.end(), out);
    return line;
}

bool valid_range(const ScaleArguments& a) {
    return a.first != 0 && a.last != 0 && a.first <= a.last;
}

// Why a line could not be read as a record.
std::string unreadable_line(TextReader::Line got, const std::string& line,
                            const TextReader& input) {
    switch (got) {
        case TextReader::Line::end:
            return "the file ends before this line";
        case TextReader::Line::too_long:
            return "the line is longer than 142 characters";
        case TextReader::Line::failed:
            return "cannot read the file: " + input.error().reason;
        case TextReader::Line::changed:
            return "the file changed while it was being loaded; nothing of the change was sent";
        case TextReader::Line::read:
            break;
    }
    return line.empty() ? "the line is empty" : "the line begins with a NUL byte";
}

// Reads the range once before anything is sent: a line that holds, where the loader reads a
// number, a character the reader never writes there means this is no PLU file (a result log, a
// CSV file, a name typed in UTF-8 that shifted its line), and nothing may reach the scale. The
// lines stop at the end of the file or at the first line that cannot be read, as the sending
// does. Returns why the run is refused, or nothing; the input is then back at its first line.
std::optional<std::string> check_range(TextReader& input, const ScaleArguments& a,
                                       const std::string& name) {
    std::string line;
    RecordFrame record{};
    for (std::uint64_t n = 1; n <= a.last; ++n) {
        const auto got = input.read_line(line, max_line_length);
        if (got == TextReader::Line::failed || got == TextReader::Line::changed) {
            return name + ":" + std::to_string(n) + ": " + unreadable_line(got, line, input);
        }
        if (got != TextReader::Line::read || !parse_line(line, record)) break;
        if (n < a.first) continue;
        if (const auto fault = find_number_column_fault(line)) {
            return name + ":" + std::to_string(n) + ": " + describe(*fault);
        }
    }
    if (const auto rewound = input.rewind(); !rewound) {
        return name + ": cannot read it again: " + rewound.error().reason;
    }
    return std::nullopt;
}

// The input file, or why the arguments cannot be used.
FileResult<TextReader> open_input(std::span<const std::string_view> args,
                                  const std::optional<ScaleArguments>& parsed) {
    const auto refused = [](std::string why) {
        return file_refused(FileError::Kind::system, std::move(why));
    };
    if (!parsed) return refused(scale_argument_problem(args));
    if (!valid_range(*parsed)) return refused("the lines must satisfy 1 <= first <= last");
    const auto path = parsed->file_path();
    if (!path) return refused("the file name is not valid here");
    auto file = LockedFile::open_for_reading(*path);
    if (!file) {
        return refused("cannot open the input file " + std::string(parsed->file_name) + ": " +
                       file.error().reason);
    }
    return TextReader(std::move(*file));
}

}  // namespace

int run_loader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const std::filesystem::path& result_path, const RunContext& context) {
    const auto parsed = parse_scale_arguments(args);
    auto opened = open_input(args, parsed);
    if (!opened) {
        console << msg::arguments_invalid;
        context.diagnose("invalid arguments: " + opened.error().reason);
        return exit_status::invalid_arguments;
    }
    TextReader& input = *opened;
    const ScaleArguments& a = *parsed;
    const std::string input_name(a.file_name);
    console << msg::arguments_ok;

    if (const auto refused = check_range(input, a, input_name)) {
        console << msg::bad_input;
        context.diagnose(*refused);
        return exit_status::bad_input;
    }

    // Held before anything is sent, so that no accepted record can go unlogged; emptied only
    // once this run holds the controller, so that a run that sends nothing keeps the last log.
    auto result_file = LockedFile::open_result_file(result_path, LockedFile::Contents::kept);
    if (!result_file) {
        console << msg::result_open_failed;
        context.diagnose("cannot open " + result_path.string() + ": " + result_file.error().reason);
        return exit_status::file_error;
    }
    TextWriter results(std::move(*result_file));

    ControllerRun run(port, console, context);
    if (const auto held = run.find_controller()) return *held;
    if (const auto emptied = results.empty(); !emptied) {
        console << msg::result_open_failed;
        context.diagnose("cannot empty " + result_path.string() + ": " + emptied.error().reason);
        return exit_status::file_error;
    }
    // The opening frame's answer carries nothing the loader uses.
    (void)run.session().open_conversation();

    std::string line;
    line.reserve(max_line_length);
    RecordFrame record{};
    // 64-bit, so that a last of 2^32-1 cannot make the count wrap.
    for (std::uint64_t n = 1; n <= a.last; ++n) {
        const auto got = input.read_line(line, max_line_length);
        if (got != TextReader::Line::read || !parse_line(line, record)) {
            console << msg::bad_input;
            context.diagnose(input_name + ":" + std::to_string(n) + ": " +
                             unreadable_line(got, line, input));
            return exit_status::bad_input;
        }
        if (n < a.first) continue;
        // A signal ends the run between records, never inside one.
        if (context.stop_signal()) return run.stopped(n - a.first);

        const Answer answer = run.session().store_record(a.scale, record);
        if (answer.verdict == Answer::Verdict::interrupted) return run.stopped(n - a.first);
        const bool accepted = answer.accepted();
        if (!accepted) console << msg::not_accepted;
        if (const auto written = results.write(result_line(accepted, record)); !written) {
            console << msg::result_write_failed;
            context.diagnose("cannot write " + result_path.string() + ": " +
                             written.error().reason);
            return exit_status::file_error;
        }
        if (!accepted) {
            context.diagnose(run.why_not(answer, input_name + ":" + std::to_string(n) + ": PLU " +
                                                     std::to_string(record_plu(record)) +
                                                     " not accepted by " + a.scale.text()));
            return exit_status::no_answer;
        }
        console << msg::record_accepted;
    }
    return exit_status::success;
}

}  // namespace ktnet
