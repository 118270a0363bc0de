// Text files as the programs have always stored them, identical on every platform:
// writing turns each LF into CR LF and keeps every other byte; reading turns CR LF back into
// LF, keeps a lone CR, and ends the file at the first 0x1A byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "locked_file.hpp"

namespace ktnet {

// Text as it is stored: each LF as CR LF, every other byte as it is. Replaces out's content.
void store_as_text(std::span<const std::uint8_t> text, std::vector<std::uint8_t>& out);

class TextWriter {
public:
    explicit TextWriter(LockedFile file) : file_(std::move(file)) {}

    // One piece of text in one write to the operating system: once this succeeds the text
    // survives the program being killed. On failure nothing of it stays in the file.
    [[nodiscard]] FileStatus write(std::span<const std::uint8_t> text);

    // Empties a file opened with its contents kept; see LockedFile::empty.
    [[nodiscard]] FileStatus empty() { return file_.empty(); }

private:
    LockedFile file_;
    std::vector<std::uint8_t> stored_;
};

class TextReader {
public:
    enum class Line {
        read,      // a line, without its LF
        too_long,  // more characters than the limit before the LF
        end,       // nothing left
        failed,    // the file could not be read; error() says why
        changed,   // the file changed since it was opened; nothing read after that is given
    };

    explicit TextReader(LockedFile file) : file_(std::move(file)) {}

    // Reads the next line into line, taking at most max_length characters before its LF.
    // A last line without an LF is a line. A too long line is left partly read. Once the
    // reading has failed or seen a change, every later call says so again.
    [[nodiscard]] Line read_line(std::string& line, std::size_t max_length);

    // Why the reading failed or stopped at a change; only after Line::failed or Line::changed.
    const FileError& error() const { return *error_; }

    // Starts again from the first line. A change since the file was opened is still seen.
    [[nodiscard]] FileStatus rewind();

    // How the text ended, once read_line said Line::end.
    struct End {
        bool at_mark = false;   // at a 0x1A byte
        bool mid_line = false;  // the last line had no LF
        // Bytes after the 0x1A byte: known for a regular file, nothing for a device.
        std::optional<std::uint64_t> bytes_after;
    };
    End end() const;

private:
    // The next byte of the file, or -1 when there is none: at its end (the first 0x1A byte is
    // an end too), or after a failure, which error_ then holds.
    int next_byte();
    int peek_byte();

    LockedFile file_;
    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t pos_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t buffer_start_ = 0;  // the file offset of buffer_[0]
    bool ended_ = false;
    bool at_mark_ = false;
    std::uint64_t mark_offset_ = 0;
    bool last_unterminated_ = false;
    std::optional<FileError> error_;
};

}  // namespace ktnet
