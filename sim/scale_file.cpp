#include "scale_file.hpp"

#include <algorithm>

#include "cli/replaced_file.hpp"
#include "cli/text_file.hpp"
#include "link/little_endian.hpp"

namespace ktnet::sim {

namespace {

constexpr std::size_t byte65_column = 118;
constexpr std::size_t byte65 = 65;
constexpr std::uint32_t million = 1'000'000;
constexpr std::uint32_t largest_plu = 0xFFFFFF;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::uint8_t bcd_char_high(std::uint8_t b) {
    return static_cast<std::uint8_t>((b >> 4) | '0');
}
std::uint8_t bcd_char_low(std::uint8_t b) {
    return static_cast<std::uint8_t>((b & 0x0F) | '0');
}

// The scale named in columns 0 to 5 ("1 S 01"), written as the reader writes it.
std::optional<ScaleAddress> scale_of(std::string_view line) {
    const char type = line[type_column];
    if (line[scale_number_column] != '0' || (type != 'S' && type != 'T')) return std::nullopt;
    const auto digit = [&](std::size_t column) {
        return static_cast<unsigned>(line[column] - '0');
    };
    return ScaleAddress::make(digit(channel_column), type, digit(scale_number_column + 1));
}

}  // namespace

FormattedLine scale_file_line(ScaleAddress id, const RecordBody& body) {
    std::array<std::uint8_t, record_frame_length> frame{};
    std::copy(body.begin(), body.end(), frame.begin() + record_body_offset);
    FormattedLine line = format_line(id, frame);
    const std::uint32_t millions = plu_number_of(body) / million;
    line[marker_column] = static_cast<std::uint8_t>('0' + millions / 10);
    line[marker_column + 1] = static_cast<std::uint8_t>('0' + millions % 10);
    line[unused_byte_column] = static_cast<std::uint8_t>(frame[unused_frame_byte] + '0');
    line[byte65_column] = bcd_char_high(frame[byte65]);
    line[byte65_column + 1] = bcd_char_low(frame[byte65]);
    return line;
}

bool load_scales(const std::filesystem::path& path, SimulatedController& controller,
                 std::string& error) {
    auto file = LockedFile::open_for_reading(path);
    if (!file) {
        error = "cannot open " + path.string();
        return false;
    }
    TextReader reader(std::move(*file));
    std::string line;
    for (std::size_t n = 1;; ++n) {
        const auto got = reader.read_line(line, max_line_length);
        if (got == TextReader::Line::end) return true;
        const std::string where = path.string() + ":" + std::to_string(n) + ": ";
        if (got == TextReader::Line::too_long) {
            error = where + "line longer than 142 characters";
            return false;
        }
        if (got == TextReader::Line::failed || got == TextReader::Line::changed) {
            error = where + reader.error().reason;
            return false;
        }
        if (line.empty()) continue;
        line.resize(std::max(line.size(), line_columns), ' ');
        const auto id = scale_of(line);
        if (!id) {
            error = where + "columns 0 to 5 must name the scale, as in \"1 S 01\"";
            return false;
        }
        RecordFrame frame{};
        if (!parse_line(line, frame)) continue;
        RecordBody body;
        std::copy_n(frame.begin() + record_body_offset, body.size(), body.begin());
        const char kept = line[unused_byte_column];
        body[unused_frame_byte - record_body_offset] =
            kept == 'x' ? 0 : static_cast<std::uint8_t>(kept - '0');
        if (is_digit(line[marker_column]) && is_digit(line[marker_column + 1])) {
            const auto millions = static_cast<std::uint32_t>(10 * (line[marker_column] - '0') +
                                                             (line[marker_column + 1] - '0'));
            const std::uint32_t plu = millions * million + plu_number_of(body);
            if (plu > largest_plu) {
                error = where + "PLU number " + std::to_string(plu) + " is beyond 16777215";
                return false;
            }
            write_le24(plu, std::span<std::uint8_t, 3>(body.data(), 3));
        }
        controller.add_scale(*id).records[plu_number_of(body)] = body;
    }
}

bool save_scales(const std::filesystem::path& path, const SimulatedController& controller,
                 std::string& error) {
    std::vector<std::uint8_t> text;
    for (const auto& [id, scale] : controller.scales()) {
        for (const auto& [plu, body] : scale.records) {
            const FormattedLine line = scale_file_line(id, body);
            text.insert(text.end(), line.begin(), line.end());
        }
    }
    // Whole or not at all: the scales' memory survives a failed or killed save.
    const FileStatus saved = replace_file(path, text);
    if (!saved) error = "cannot save " + path.string() + ": " + saved.error().reason;
    return static_cast<bool>(saved);
}

}  // namespace ktnet::sim
