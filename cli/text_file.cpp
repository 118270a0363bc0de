#include "text_file.hpp"

namespace ktnet {

namespace {
constexpr std::uint8_t end_of_file_mark = 0x1A;
}

FileStatus TextWriter::write(std::span<const std::uint8_t> text) {
    stored_.clear();
    for (const std::uint8_t b : text) {
        if (b == '\n') stored_.push_back('\r');
        stored_.push_back(b);
    }
    return file_.write(stored_);
}

int TextReader::peek_byte() {
    if (ended_ || error_) return -1;
    if (pos_ == filled_) {
        auto n = file_.read(buffer_);
        if (!n) {
            error_ = n.error();
            return -1;
        }
        if (*n == 0) {
            ended_ = true;
            return -1;
        }
        pos_ = 0;
        filled_ = *n;
    }
    if (buffer_[pos_] == end_of_file_mark) {
        ended_ = true;
        return -1;
    }
    return buffer_[pos_];
}

int TextReader::next_byte() {
    const int b = peek_byte();
    if (b >= 0) ++pos_;
    return b;
}

TextReader::Line TextReader::read_line(std::string& line, std::size_t max_length) {
    line.clear();
    for (;;) {
        int c = next_byte();
        if (c < 0) {
            // A line cut short by a failure or a change is not given, whatever it holds.
            if (error_) {
                return error_->kind == FileError::Kind::changed ? Line::changed : Line::failed;
            }
            return line.empty() ? Line::end : Line::read;
        }
        if (c == '\r' && peek_byte() == '\n') c = next_byte();
        if (c == '\n') return Line::read;
        if (line.size() == max_length) return Line::too_long;
        line.push_back(static_cast<char>(c));
    }
}

FileStatus TextReader::rewind() {
    if (error_) return *error_;
    auto rewound = file_.rewind();
    if (!rewound) return rewound;
    pos_ = filled_ = 0;
    ended_ = false;
    return {};
}

}  // namespace ktnet
