#include "reader.hpp"

#include <optional>

#include "cli/controller_messages.hpp"
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

// The arguments, with the output file opened only once everything else is known to be right.
std::optional<TextWriter> open_output(const ScaleArguments& a) {
    const auto path = a.file_path();
    auto file = path ? LockedFile::open_for_writing(*path) : std::nullopt;
    if (!file) return std::nullopt;
    return TextWriter(std::move(*file));
}

}  // namespace

int run_reader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const RunContext& context) {
    const auto parsed = parse_scale_arguments(args);
    std::optional<TextWriter> output;
    if (parsed && parsed->last <= highest_plu && parsed->first <= parsed->last) {
        output = open_output(*parsed);
    }
    if (!output) {
        print_help(console);
        return exit_status::invalid_arguments;
    }
    const ScaleArguments& a = *parsed;
    console << msg::arguments_ok;

    Session session(port, {context.answer_timeout, [&] { return context.stop_signal() != 0; }});
    const auto discovery = session.find_controller(
        [&](const DiscoveryEvent& event) { print_discovery_event(console, event); });
    if (discovery.result == Discovery::Result::held) {
        console << message_controller_held;
        return exit_status::controller_held;
    }
    // The opening frame's answer carries nothing the reader uses.
    (void)session.open_conversation();

    for (std::uint32_t plu = a.first; plu <= a.last; ++plu) {
        // A signal ends the run between records, never inside one.
        if (const int signal = context.stop_signal()) return exit_status::stopped_by(signal);
        const RecordAnswer got = session.read_record(a.scale, plu);
        if (got.answer.verdict == Answer::Verdict::interrupted) {
            return exit_status::stopped_by(context.stop_signal());
        }
        if (!got.answer.accepted()) {
            console << msg::no_valid_answer;
            return exit_status::no_answer;
        }
        if (!output->write(format_line(a.scale, got.record))) {
            console << msg::write_failed;
            return exit_status::file_error;
        }
        console << msg::record_written;
    }
    return exit_status::success;
}

}  // namespace ktnet
