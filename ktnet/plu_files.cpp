#include "plu_files.hpp"

#include <array>
#include <cstdint>

#include "cli/locked_file.hpp"
#include "cli/text_file.hpp"

namespace ktnet {

std::optional<std::string> read_file_bytes(const std::filesystem::path& path) {
    auto file = LockedFile::open_for_reading(path);
    if (!file) return std::nullopt;
    std::string bytes;
    std::array<std::uint8_t, 65536> block;
    for (;;) {
        const std::ptrdiff_t n = file->read(block);
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(block.begin(), block.begin() + n);
    }
}

std::optional<std::vector<std::string>> read_plu_lines(const std::filesystem::path& path) {
    auto file = LockedFile::open_for_reading(path);
    if (!file) return std::nullopt;
    TextReader reader(std::move(*file));
    std::vector<std::string> lines;
    std::string line;
    // No limit: a line too long for the loader is read whole, to be reported with its length.
    while (reader.read_line(line, std::string::npos) != TextReader::Line::end)
        lines.push_back(line);
    return lines;
}

bool write_file_bytes(const std::filesystem::path& path, std::string_view bytes) {
    auto file = LockedFile::open_for_writing(path);
    return file && file->write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

bool write_plu_file(const std::filesystem::path& path, std::span<const FormattedLine> lines) {
    auto file = LockedFile::open_for_writing(path);
    if (!file) return false;
    std::vector<std::uint8_t> text;
    text.reserve(lines.size() * formatted_line_length);
    for (const FormattedLine& line : lines) text.insert(text.end(), line.begin(), line.end());
    return TextWriter(std::move(*file)).write(text);
}

std::optional<std::filesystem::path> path_of(std::string_view name) {
    try {
        return std::filesystem::path(name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace ktnet
