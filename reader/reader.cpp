#include "reader.hpp"

#include <optional>
#include <string>

#include "cli/controller_run.hpp"
#include "cli/exit_status.hpp"
#include "cli/scale_arguments.hpp"
#include "cli/text_file.hpp"
#include "link/session.hpp"
#include "plu/plu_line.hpp"
#include "reader_messages.hpp"

namespace ktnet {

namespace {

namespace msg = reader_messages;

constexpr std::uint32_t highest_plu = 10000;

void print_help(std::ostream& console) {
    for (const auto line : msg::help) console << line;
}

// The output file, held but kept as it is: it is emptied only when the first record has
// arrived, so a run that reads nothing leaves the last backup in place.
FileResult<TextWriter> open_output(const ScaleArguments& a) {
    const auto path = a.file_path();
    if (!path) return file_refused(FileError::Kind::system, "the file name is not valid here");
    auto file = LockedFile::open_for_writing(*path, LockedFile::Contents::kept);
    if (!file) return file.error();
    return TextWriter(std::move(*file));
}

// Why the arguments cannot be used, or nothing when they can.
std::optional<std::string> argument_problem(std::span<const std::string_view> args,
                                            const std::optional<ScaleArguments>& parsed) {
    if (!parsed) return scale_argument_problem(args);
    if (parsed->last > highest_plu) {
        return "the last PLU must be at most " + std::to_string(highest_plu);
    }
    if (parsed->first > parsed->last) return std::string("the first PLU is above the last");
    return std::nullopt;
}

}  // namespace

int run_reader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const RunContext& context) {
    const auto parsed = parse_scale_arguments(args);
    auto problem = argument_problem(args, parsed);
    std::optional<TextWriter> output;
    if (!problem) {
        auto opened = open_output(*parsed);
        if (opened) {
            output.emplace(std::move(*opened));
        } else {
            problem = "cannot open the output file " + std::string(parsed->file_name) + ": " +
                      opened.error().reason;
        }
    }
    if (!output) {
        print_help(console);
        context.diagnose("invalid arguments: " + *problem);
        return exit_status::invalid_arguments;
    }
    const ScaleArguments& a = *parsed;
    console << msg::arguments_ok;

    ControllerRun run(port, console, context);
    if (const auto held = run.find_controller()) return *held;
    // The opening frame's answer carries nothing the reader uses.
    (void)run.session().open_conversation();

    for (std::uint32_t plu = a.first; plu <= a.last; ++plu) {
        // A signal ends the run between records, never inside one.
        if (context.stop_signal()) return run.stopped(plu - a.first);
        const RecordAnswer got = run.session().read_record(a.scale, plu);
        if (got.answer.verdict == Answer::Verdict::interrupted) return run.stopped(plu - a.first);
        if (!got.answer.accepted()) {
            console << msg::no_valid_answer;
            context.diagnose(
                run.why_not(got.answer, "PLU " + std::to_string(plu) + " from " + a.scale.text()));
            return exit_status::no_answer;
        }
        // The first record to arrive replaces what the file held.
        FileStatus written = plu == a.first ? output->empty() : FileStatus{};
        if (written) written = output->write(format_line(a.scale, got.record));
        if (!written) {
            console << msg::write_failed;
            context.diagnose("cannot write " + std::string(a.file_name) + ": " +
                             written.error().reason);
            return exit_status::file_error;
        }
        console << msg::record_written;
    }
    return exit_status::success;
}

}  // namespace ktnet
