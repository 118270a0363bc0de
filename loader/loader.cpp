#include "loader.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "cli/exit_status.hpp"
#include "cli/scale_arguments.hpp"
#include "cli/text_file.hpp"
#include "link/controller_link.hpp"
#include "loader_messages.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

namespace {

namespace msg = loader_messages;

// "ok " or "er ", the 24 name bytes, " *" and LF: 31 bytes on disk.
using ResultLine = std::array<std::uint8_t, 3 + name_length + 3>;

ResultLine result_line(bool accepted, const FrameBuffer& raw) {
    ResultLine line{};
    const std::string_view head = accepted ? "ok " : "er ";
    constexpr std::string_view tail = " *\n";
    auto out = std::copy(head.begin(), head.end(), line.begin());
    out = std::copy_n(raw.begin() + name_frame_byte, name_length, out);
    std::copy(tail.begin(), tail.end(), out);
    return line;
}

bool valid_range(const ScaleArguments& a) {
    return a.first != 0 && a.last != 0 && a.first <= a.last;
}

}  // namespace

int run_loader(std::span<const std::string_view> args, HidPort& port, std::ostream& console,
               const std::filesystem::path& result_path) {
    const auto parsed = parse_scale_arguments(args);
    std::optional<TextReader> input;
    if (const auto path = parsed && valid_range(*parsed) ? parsed->file_path() : std::nullopt) {
        if (auto file = LockedFile::open_for_reading(*path)) input.emplace(std::move(*file));
    }
    if (!input) {
        console << msg::arguments_invalid;
        return exit_status::invalid_arguments;
    }
    const ScaleArguments& a = *parsed;
    console << msg::arguments_ok;

    // Opened before anything is sent, so that no accepted record can go unlogged.
    auto result_file = LockedFile::open_result_file(result_path, LockedFile::Contents::emptied);
    if (!result_file) {
        console << msg::result_open_failed;
        return exit_status::file_error;
    }
    TextWriter results(std::move(*result_file));

    ControllerLink link(port, console);
    link.find_controller();

    FrameBuffer raw{}, escaped{}, answer{};
    send_opening_frame(link, raw, escaped, answer);

    std::string line;
    line.reserve(max_line_length);
    // 64-bit, so that a last of 2^32-1 cannot make the count wrap.
    for (std::uint64_t n = 1; n <= a.last; ++n) {
        if (input->read_line(line, max_line_length) != TextReader::Line::read ||
            !parse_line(line, a.scale.address_byte(), raw)) {
            console << msg::bad_input;
            return exit_status::bad_input;
        }
        if (n < a.first) continue;

        checksum(record_frame_length, raw);
        escape(record_frame_length, raw, escaped);
        const auto status = link.exchange(a.scale.route(), escaped, answer);
        const bool accepted =
            answered(status) && answer[0] == frame_head && answer[command_index] == answer_stored;
        if (!accepted) console << msg::not_accepted;
        if (!results.write(result_line(accepted, raw))) {
            console << msg::result_write_failed;
            return exit_status::file_error;
        }
        if (!accepted) return exit_status::no_answer;
        console << msg::record_accepted;
    }
    return exit_status::success;
}

}  // namespace ktnet
