#include "formats/plu_files.hpp"

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

FileResult<TextReader> open_plu_file(std::string_view name) {
    auto path = file_path(name);
    if (!path) return path.error();
    auto file = LockedFile::open_for_reading(*path);
    if (!file) return file.error();
    return TextReader(std::move(*file));
}

FileResult<PluFileRead> read_plu_file(
    std::string_view name, const std::function<bool(std::size_t, std::string_view)>& each) {
    auto reader = open_plu_file(name);
    if (!reader) return reader.error();
    return read_plu_file(*reader, each);
}

FileResult<PluFileRead> read_plu_file(
    TextReader& reader, const std::function<bool(std::size_t, std::string_view)>& each) {
    PluFileRead read;
    std::string line;
    line.reserve(max_line_length + 2);
    for (;;) {
        switch (reader.read_line(line, plu_line_cap)) {
            case TextReader::Line::end:
                read.end = reader.end();
                return read;
            case TextReader::Line::failed:
            case TextReader::Line::changed:
                return reader.error();
            case TextReader::Line::too_long:
                read.not_plu_line = read.lines + 1;
                return read;
            case TextReader::Line::read:
                if (!each(++read.lines, line)) {
                    read.stopped = true;
                    return read;
                }
        }
    }
}

std::string describe_not_plu_line(std::size_t line) {
    return "line " + std::to_string(line) + " is not a PLU line: more than " +
           std::to_string(plu_line_cap) + " characters without a line end";
}

FileResult<std::vector<std::string>> read_plu_lines(std::string_view name) {
    std::vector<std::string> lines;
    auto read = read_plu_file(name, [&](std::size_t, std::string_view line) {
        lines.emplace_back(line);
        return true;
    });
    if (!read) return read.error();
    if (read->not_plu_line)
        return file_refused(FileError::Kind::not_a_file,
                            describe_not_plu_line(*read->not_plu_line));
    return lines;
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
