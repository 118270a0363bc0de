#include "plu_files.hpp"

#include <array>
#include <cstdint>

#include "cli/locked_file.hpp"
#include "cli/text_file.hpp"

namespace ktnet {

namespace {

FileResult<std::filesystem::path> file_path(std::string_view name) {
    if (auto path = path_of(name)) return *path;
    return file_refused(FileError::Kind::system, "the name is not valid here");
}

}  // namespace

FileResult<std::string> read_file_bytes(std::string_view name) {
    auto path = file_path(name);
    if (!path) return path.error();
    auto file = LockedFile::open_for_reading(*path);
    if (!file) return file.error();
    std::string bytes;
    std::array<std::uint8_t, 65536> block;
    for (;;) {
        const auto n = file->read(block);
        if (!n) return n.error();
        if (*n == 0) return bytes;
        bytes.append(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(*n));
    }
}

FileResult<std::vector<std::string>> read_plu_lines(std::string_view name) {
    auto path = file_path(name);
    if (!path) return path.error();
    auto file = LockedFile::open_for_reading(*path);
    if (!file) return file.error();
    TextReader reader(std::move(*file));
    std::vector<std::string> lines;
    std::string line;
    // No limit: a line too long for the loader is read whole, to be reported with its length.
    for (;;) {
        switch (reader.read_line(line, std::string::npos)) {
            case TextReader::Line::end:
                return lines;
            case TextReader::Line::failed:
            case TextReader::Line::changed:
                return reader.error();
            default:
                lines.push_back(line);
        }
    }
}

FileStatus write_file_bytes(std::string_view name, std::string_view bytes) {
    auto path = file_path(name);
    if (!path) return path.error();
    auto file = LockedFile::open_for_writing(*path, LockedFile::Contents::emptied);
    if (!file) return file.error();
    return file->write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

FileStatus write_plu_file(std::string_view name, std::span<const FormattedLine> lines) {
    auto path = file_path(name);
    if (!path) return path.error();
    auto file = LockedFile::open_for_writing(*path, LockedFile::Contents::emptied);
    if (!file) return file.error();
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
