#include "reader.hpp"

#include <optional>

#include "cli/exit_status.hpp"
#include "cli/scale_arguments.hpp"
#include "cli/text_file.hpp"
#include "link/controller_link.hpp"
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
    if (!path) return std::nullopt;
    auto file = LockedFile::open_for_writing(*path, LockedFile::Contents::emptied);
    if (!file) return std::nullopt;
    return TextWriter(std::move(*file));
}

// A record answer: head and answer code in place, and a whole frame behind them, ending at
// its terminator. A shorter or unterminated frame would be padded with stale bytes.
bool is_record_answer(std::optional<std::uint8_t> status, const FrameBuffer& answer,
                      const FrameBuffer& record, std::size_t record_length) {
    return answered(status) && answer[0] == frame_head && answer[command_index] == answer_plu &&
           record_length >= record_frame_length && record[record_length - 1] == frame_terminator;
}

}  // namespace

int run_reader(std::span<const std::string_view> args, HidPort& port, std::ostream& console) {
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

    ControllerLink link(port, console);
    link.find_controller();

    FrameBuffer raw{}, escaped{}, answer{}, record{};
    send_opening_frame(link, raw, escaped, answer);

    for (std::uint32_t plu = a.first; plu <= a.last; ++plu) {
        const std::array<std::uint8_t, short_frame_length> request = {
            frame_head,
            frame_head,
            a.scale.address_byte(),
            0,
            command_request_plu,
            1,
            static_cast<std::uint8_t>(plu & 0xFF),
            static_cast<std::uint8_t>((plu >> 8) & 0xFF),
            0,
            0,
            frame_terminator};
        std::copy(request.begin(), request.end(), raw.begin());
        checksum(short_frame_length, raw);
        escape(short_frame_length, raw, escaped);
        const auto status = link.exchange(a.scale.route(), escaped, answer);

        const std::size_t length = answered(status) ? unescape(answer, record) : 0;
        if (!is_record_answer(status, answer, record, length)) {
            console << msg::no_valid_answer;
            return exit_status::no_answer;
        }
        const FormattedLine line = format_line(
            a.scale,
            std::span<const std::uint8_t, record_frame_length>(record.data(), record_frame_length));
        if (!output->write(line)) {
            console << msg::write_failed;
            return exit_status::file_error;
        }
        console << msg::record_written;
    }
    return exit_status::success;
}

}  // namespace ktnet
