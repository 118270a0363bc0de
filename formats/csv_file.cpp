#include "formats/csv_file.hpp"

#include <fmt/format.h>

#include <array>

#include "base/text.hpp"
#include "formats/name_text.hpp"

namespace ktnet {

namespace {

constexpr std::size_t block_size = 65536;
constexpr char32_t replacement_character = 0xFFFD;

std::string separator_name(char c) {
    return c == '\t' ? std::string("tab") : fmt::format("'{}'", c);
}

// Whether a text given in pieces is UTF-8 throughout; a sequence may be cut between pieces.
class Utf8Check {
public:
    void feed(std::string_view piece) {
        if (!valid_) return;
        tail_.append(piece);
        std::size_t i = 0;
        while (i < tail_.size()) {
            const std::size_t n = utf8_sequence_length(tail_, i);
            if (n == 0) {
                // Only a sequence cut by the end of the piece may still become whole.
                const std::size_t cut = utf8_sequence_length(tail_, i, true);
                if (cut == 0 || i + cut != tail_.size()) valid_ = false;
                break;
            }
            i += n;
        }
        tail_.erase(0, valid_ ? i : tail_.size());
    }
    bool valid_at_end() const { return valid_ && tail_.empty(); }

private:
    bool valid_ = true;
    std::string tail_;
};

// A single-byte code page's text as UTF-8; a byte without a character becomes U+FFFD, which no
// header names and no name takes, so that it is refused where it stands.
std::string to_utf8(std::string_view bytes, const CodePage& page) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) {
            out += c;
        } else {
            append_utf8(out, page.character(b).value_or(replacement_character));
        }
    }
    return out;
}

}  // namespace

char find_separator(std::string_view first_row) {
    const std::size_t end = first_row.find('\n');
    const std::string_view row = first_row.substr(0, end);
    char best = ';';
    std::size_t most = 0;
    for (const char c : {';', '\t', ','}) {
        std::size_t count = 0;
        bool quoted = false;
        for (const char b : row) {
            if (b == '"') quoted = !quoted;
            if (b == c && !quoted) ++count;
        }
        if (count > most) {
            most = count;
            best = c;
        }
    }
    return best;
}

std::string describe(const CsvFileFacts& facts) {
    const char* how = !facts.encoding_found ? ""
                      : facts.encoding == "UTF-8"
                          ? " (found)"
                          : " (it is not UTF-8; --csv-codepage names another)";
    return fmt::format("read as {}{}, separated by {}{}", facts.encoding, how,
                       separator_name(facts.separator),
                       facts.separator_found ? " (found in the header)" : "");
}

FileResult<CsvFileFacts> read_csv_file(LockedFile& file, const CsvFileReading& reading) {
    CsvFileFacts facts;
    std::array<std::uint8_t, block_size> block{};
    const auto text_of = [&](std::size_t n) {
        return std::string_view(reinterpret_cast<const char*>(block.data()), n);
    };
    const CodePage* page = nullptr;  // nothing: UTF-8
    switch (reading.choice.encoding) {
        case CsvFileChoice::Encoding::utf8:
            break;
        case CsvFileChoice::Encoding::code_page:
            page = reading.choice.code_page;
            break;
        case CsvFileChoice::Encoding::detect: {
            facts.encoding_found = true;
            Utf8Check check;
            for (;;) {
                if (!reading.keep_going()) {
                    facts.stopped = true;
                    return facts;
                }
                const auto n = file.read(block);
                if (!n) return n.error();
                if (*n == 0) break;
                check.feed(text_of(*n));
            }
            if (!check.valid_at_end()) page = &reading.fallback;
            if (auto rewound = file.rewind(); !rewound) {
                return file_refused(
                    rewound.error().kind,
                    fmt::format("{}; to read it once, name its encoding (--csv-codepage utf-8, "
                                "or a code page)",
                                rewound.error().reason));
            }
            break;
        }
    }
    facts.encoding = page ? page->label() : "UTF-8";

    std::optional<CsvReader> reader;
    bool started = false;
    if (reading.choice.separator) {
        facts.separator = *reading.choice.separator;
        reader.emplace(facts.separator);
    }
    for (bool ended = false; !ended && !facts.error;) {
        if (!reading.keep_going()) {
            facts.stopped = true;
            return facts;
        }
        const auto n = file.read(block);
        if (!n) return n.error();
        ended = *n == 0;
        const std::string text = page ? to_utf8(text_of(*n), *page) : std::string(text_of(*n));
        if (!reader) {
            // The first block holds the header row: no header comes near its size.
            facts.separator = find_separator(text);
            facts.separator_found = true;
            reader.emplace(facts.separator);
        }
        if (!started) {
            started = true;
            reading.on_start(facts);
        }
        if (ended) {
            reader->finish();
        } else {
            reader->feed(text);
        }
        while (auto row = reader->next_row()) {
            ++facts.rows;
            reading.on_row(*row);
        }
        if (reader->error()) facts.error = reader->error();
    }
    return facts;
}

}  // namespace ktnet
