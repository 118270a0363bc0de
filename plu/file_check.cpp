#include "file_check.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "line_check.hpp"

namespace ktnet {

namespace {

constexpr char end_of_file_mark = 0x1A;
constexpr std::size_t plu_numbers = 1000000;  // six decimal columns

enum class ColumnKind : std::uint8_t { other, name, digit };

consteval std::array<ColumnKind, line_columns> column_kinds() {
    std::array<ColumnKind, line_columns> kinds{};
    for (const PluField& f : plu_fields) {
        if (f.encoding == FieldEncoding::digit) kinds[f.column] = ColumnKind::digit;
        if (f.encoding == FieldEncoding::raw) {
            for (std::size_t i = 0; i < field_width(f); ++i) kinds[f.column + i] = ColumnKind::name;
        }
    }
    return kinds;
}
constexpr std::array<ColumnKind, line_columns> kinds = column_kinds();

ColumnKind kind_at(std::size_t column) {
    return column < line_columns ? kinds[column] : ColumnKind::other;
}

// "the name holds X at column 23" or "column 84 holds X (a Digit setting of 218)".
std::string holds(std::size_t column, char byte, std::string_view what) {
    const std::string number = std::to_string(column);
    switch (kind_at(column)) {
        case ColumnKind::name:
            return join({"the name holds ", what, " at column ", number});
        case ColumnKind::digit: {
            const auto setting = static_cast<std::uint8_t>(static_cast<std::uint8_t>(byte) - '0');
            return join({"column ", number, " holds ", what, " (a Digit setting of ",
                         std::to_string(setting), ")"});
        }
        case ColumnKind::other:
            break;
    }
    return join({"the line holds ", what, " at column ", number});
}

// The lines of a text as the programs read them: each LF ends a line, a CR just before it is
// dropped, and a last line without a LF counts. Each line is a view into the text.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(text.size() / (line_columns + 1) + 1);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        const std::size_t end = (lf > start && text[lf - 1] == '\r') ? lf - 1 : lf;
        lines.push_back(text.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

class Checker {
public:
    explicit Checker(std::string_view text) : lines_(split_lines(text)) {}

    std::vector<Finding> run(std::string_view content, std::size_t text_size);

private:
    void add(std::size_t line, std::size_t column, FindingKind kind, std::string message) {
        findings_.push_back({line, column, kind, std::move(message)});
    }
    // The last line of a record that LF bytes split, starting at a short line i: the pieces
    // joined by LFs make one whole line, and each LF sits where the reader writes any byte.
    std::optional<std::size_t> split_end(std::size_t i) const;
    void check_record(std::string_view record, std::size_t line);

    std::vector<std::string_view> lines_;
    std::vector<Finding> findings_;
    std::vector<std::uint32_t> line_of_plu_;  // by PLU number; 0 = not seen
};

std::optional<std::size_t> Checker::split_end(std::size_t i) const {
    std::size_t length = lines_[i].size();
    for (std::size_t j = i + 1; j < lines_.size() && length < line_columns; ++j) {
        if (kind_at(length) == ColumnKind::other) return std::nullopt;
        length += 1 + lines_[j].size();
        // The reader's lines end in a CR of their own, one character more than typed lines.
        if (length == line_columns || length == line_columns + 1) return j;
    }
    return std::nullopt;
}

void Checker::check_record(std::string_view record, std::size_t line) {
    const auto fault = find_number_column_fault(record);
    if (fault) add(line, fault->column, FindingKind::number_column, describe(*fault));
    const auto clean_before = [&](std::size_t column) { return !fault || fault->column > column; };

    const PluField& plu = plu_fields.front();
    if (clean_before(plu.column + field_width(plu) - 1)) {
        const std::uint32_t number = plu_number_of_line(record);
        if (line_of_plu_.empty()) line_of_plu_.resize(plu_numbers);
        std::uint32_t& first = line_of_plu_[number];
        if (first != 0) {
            std::string digits = std::to_string(number);
            digits.insert(0, field_width(plu) - digits.size(), '0');
            add(line, plu.column, FindingKind::duplicate_plu,
                join({"PLU ", digits, " is on line ", std::to_string(first),
                      " as well: the later line replaces it in the scale"}));
        } else {
            first = static_cast<std::uint32_t>(line);
        }
    }
    if (clean_before(119)) {
        if (const auto stored = byte65_changed(record)) {
            std::string text(record.substr(118, 2));
            text.resize(2, '0');
            const std::string back{static_cast<char>('0' + *stored / 10),
                                   static_cast<char>('0' + *stored % 10)};
            add(line, 118, FindingKind::byte65_changes,
                join({"columns 118-119 hold \"", text, "\", which ldk sends as the byte ",
                      hex_byte(*stored), ": a copy read back from the scale shows \"", back,
                      "\" (only 00 to 09 survive)"}));
        }
    }
    if (const auto column = find_utf8_in_name(record)) {
        const auto lead = static_cast<std::uint8_t>(record[*column]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::string bytes;
        for (std::size_t k = 0; k < length && *column + k < record.size(); ++k) {
            if (k > 0) bytes += ' ';
            bytes += show_byte(static_cast<std::uint8_t>(record[*column + k]));
        }
        add(line, *column, FindingKind::utf8_name,
            join({"the name looks like UTF-8 text (", bytes, " at column ", std::to_string(*column),
                  "): the scales use a single-byte code page, where such a letter takes two or "
                  "more columns"}));
    }
}

std::vector<Finding> Checker::run(std::string_view content, std::size_t text_size) {
    const bool marked = text_size < content.size();
    for (std::size_t i = 0; i < lines_.size();) {
        const std::string_view line = lines_[i];
        const std::size_t number = i + 1;
        const bool cut_by_mark = marked && i + 1 == lines_.size() && content[text_size - 1] != '\n';
        if (line.empty() || line.front() == '\0') {
            add(number, 0, FindingKind::unreadable_line,
                line.empty() ? "the line is empty: ldk stops here"
                             : "the line begins with a NUL byte: ldk stops here");
            ++i;
            continue;
        }
        if (line.size() > max_line_length) {
            add(number, max_line_length, FindingKind::too_long,
                join({"the line is ", std::to_string(line.size()),
                      " characters long: ldk stops at a line over 142"}));
        } else if (line.size() < line_columns && !cut_by_mark) {
            if (const auto end = split_end(i)) {
                const std::size_t column = line.size();
                add(number, column, FindingKind::split_record,
                    join({holds(column, '\n', "a line feed"),
                          ", which splits this record over lines ", std::to_string(number), " to ",
                          std::to_string(*end + 1)}));
                std::string joined(line);
                for (std::size_t j = i + 1; j <= *end; ++j) (joined += '\n') += lines_[j];
                check_record(joined, number);
                i = *end + 1;
                continue;
            }
            add(number, line.size(), FindingKind::cut_short,
                join({"the line ends at column ", std::to_string(line.size()),
                      ", before column 140: ldk reads the missing number columns as 0 and the "
                      "name as spaces"}));
        }
        check_record(line, number);
        ++i;
    }

    if (marked) {
        const bool mid_line = text_size > 0 && content[text_size - 1] != '\n';
        const std::size_t line = mid_line ? lines_.size() : lines_.size() + 1;
        const std::size_t column = mid_line ? lines_.back().size() : 0;
        const std::size_t after = content.size() - text_size - 1;
        if (mid_line || after > 0) {
            add(line, column, FindingKind::end_of_file_mark,
                join({holds(column, end_of_file_mark, "a 0x1A byte"),
                      ", which ends the file: ldk never reads the ",
                      after > 0 ? std::to_string(after) : "rest of this line",
                      after > 0 ? " bytes after it" : ""}));
        }
    }
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return std::move(findings_);
}

}  // namespace

std::string_view kind_name(FindingKind kind) {
    switch (kind) {
        case FindingKind::unreadable_line:
            return "unreadable_line";
        case FindingKind::too_long:
            return "too_long";
        case FindingKind::cut_short:
            return "cut_short";
        case FindingKind::number_column:
            return "number_column";
        case FindingKind::split_record:
            return "split_record";
        case FindingKind::end_of_file_mark:
            return "end_of_file_mark";
        case FindingKind::byte65_changes:
            return "byte65_changes";
        case FindingKind::utf8_name:
            return "utf8_name";
        case FindingKind::duplicate_plu:
            return "duplicate_plu";
    }
    return "unknown";
}

std::vector<Finding> check_plu_file(std::span<const std::uint8_t> content) {
    const std::string_view all(reinterpret_cast<const char*>(content.data()), content.size());
    const std::size_t text_size = std::min(all.find(end_of_file_mark), all.size());
    return Checker(all.substr(0, text_size)).run(all, text_size);
}

}  // namespace ktnet
