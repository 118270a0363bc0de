#include "text_file.hpp"

namespace ktnet {

namespace {
constexpr std::uint8_t end_of_file_mark = 0x1A;
}

void store_as_text(std::span<const std::uint8_t> text, std::vector<std::uint8_t>& out) {
    out.clear();
    out.reserve(text.size() + text.size() / 64);
    for (const std::uint8_t b : text) {
        if (b == '\n') out.push_back('\r');
        out.push_back(b);
    }
}

FileStatus TextWriter::write(std::span<const std::uint8_t> text) {
    store_as_text(text, stored_);
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
        buffer_start_ += filled_;
        pos_ = 0;
        filled_ = *n;
    }
    if (buffer_[pos_] == end_of_file_mark) {
        ended_ = true;
        at_mark_ = true;
        mark_offset_ = buffer_start_ + pos_;
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
            if (line.empty()) return Line::end;
            last_unterminated_ = true;
            return Line::read;
        }
        if (c == '\r' && peek_byte() == '\n') c = next_byte();
        if (c == '\n') {
            last_unterminated_ = false;
            return Line::read;
        }
        if (line.size() == max_length) return Line::too_long;
        line.push_back(static_cast<char>(c));
    }
}

FileStatus TextReader::rewind() {
    if (error_) return *error_;
    auto rewound = file_.rewind();
    if (!rewound) return rewound;
    pos_ = filled_ = 0;
    buffer_start_ = 0;
    ended_ = at_mark_ = last_unterminated_ = false;
    return {};
}

TextReader::End TextReader::end() const {
    End e{at_mark_, last_unterminated_, std::nullopt};
    if (at_mark_) {
        if (const auto size = file_.size()) e.bytes_after = *size - mark_offset_ - 1;
    }
    return e;
}

}  // namespace ktnet
