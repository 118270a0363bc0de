#include "loader.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "cli/controller_messages.hpp"
#include "cli/exit_status.hpp"
#include "cli/scale_arguments.hpp"
#include "cli/text_file.hpp"
#include "link/session.hpp"
#include "loader_messages.hpp"
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

}  // namespace

int run_loader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const std::filesystem::path& result_path, const RunContext& context) {
    const auto parsed = parse_scale_arguments(args);
    std::optional<LockedFile> input_file;
    if (parsed && valid_range(*parsed)) {
        const auto path = parsed->file_path();
        if (path) input_file = LockedFile::open_for_reading(*path);
    }
    if (!input_file) {
        console << msg::arguments_invalid;
        return exit_status::invalid_arguments;
    }
    const ScaleArguments& a = *parsed;
    TextReader input(std::move(*input_file));
    console << msg::arguments_ok;

    // Opened before anything is sent, so that no accepted record can go unlogged.
    auto result_file = LockedFile::open_for_writing(result_path);
    if (!result_file) {
        console << msg::result_open_failed;
        return exit_status::file_error;
    }
    TextWriter results(std::move(*result_file));

    Session session(port, {context.answer_timeout, [&] { return context.stop_signal() != 0; }});
    const auto discovery = session.find_controller(
        [&](const DiscoveryEvent& event) { print_discovery_event(console, event); });
    if (discovery.result == Discovery::Result::held) {
        console << message_controller_held;
        return exit_status::controller_held;
    }
    // The opening frame's answer carries nothing the loader uses.
    (void)session.open_conversation();

    std::string line;
    line.reserve(max_line_length);
    RecordFrame record{};
    // 64-bit, so that a last of 2^32-1 cannot make the count wrap.
    for (std::uint64_t n = 1; n <= a.last; ++n) {
        if (input.read_line(line, max_line_length) != TextReader::Line::read ||
            !parse_line(line, record)) {
            console << msg::bad_input;
            return exit_status::bad_input;
        }
        if (n < a.first) continue;
        // A signal ends the run between records, never inside one.
        if (const int signal = context.stop_signal()) return exit_status::stopped_by(signal);

        const Answer answer = session.store_record(a.scale, record);
        if (answer.verdict == Answer::Verdict::interrupted) {
            return exit_status::stopped_by(context.stop_signal());
        }
        const bool accepted = answer.accepted();
        if (!accepted) console << msg::not_accepted;
        if (!results.write(result_line(accepted, record))) {
            console << msg::result_write_failed;
            return exit_status::file_error;
        }
        if (!accepted) return exit_status::no_answer;
        console << msg::record_accepted;
    }
    return exit_status::success;
}

}  // namespace ktnet
