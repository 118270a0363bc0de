#include "text_file.hpp"

namespace ktnet {

namespace {
constexpr std::uint8_t end_of_file_mark = 0x1A;
}

bool TextWriter::write(std::span<const std::uint8_t> text) {
    stored_.clear();
    for (const std::uint8_t b : text) {
        if (b == '\n') stored_.push_back('\r');
        stored_.push_back(b);
    }
    return file_.write(stored_);
}

int TextReader::peek_byte() {
    if (ended_) return -1;
    if (pos_ == filled_) {
        const std::ptrdiff_t n = file_.read(buffer_);
        if (n <= 0) {  // a read error ends the file as well
            ended_ = true;
            return -1;
        }
        pos_ = 0;
        filled_ = static_cast<std::size_t>(n);
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
        if (c < 0) return line.empty() ? Line::end : Line::read;
        if (c == '\r' && peek_byte() == '\n') c = next_byte();
        if (c == '\n') return Line::read;
        if (line.size() == max_length) return Line::too_long;
        line.push_back(static_cast<char>(c));
    }
}

}  // namespace ktnet
