// Text files as the programs have always stored them, identical on every platform:
// writing turns each LF into CR LF and keeps every other byte; reading turns CR LF back into
// LF, keeps a lone CR, and ends the file at the first 0x1A byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "locked_file.hpp"

namespace ktnet {

class TextWriter {
public:
    explicit TextWriter(LockedFile file) : file_(std::move(file)) {}

    // One piece of text in one write to the operating system: once this returns true the
    // text survives the program being killed. On failure nothing of it stays in the file.
    bool write(std::span<const std::uint8_t> text);

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
    };

    explicit TextReader(LockedFile file) : file_(std::move(file)) {}

    // Reads the next line into line, taking at most max_length characters before its LF.
    // A last line without an LF is a line. A too long line is left partly read.
    Line read_line(std::string& line, std::size_t max_length);

private:
    // The next byte of the file, or -1 at its end (the first 0x1A byte is an end too).
    int next_byte();
    int peek_byte();

    LockedFile file_;
    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t pos_ = 0;
    std::size_t filled_ = 0;
    bool ended_ = false;
};

}  // namespace ktnet
