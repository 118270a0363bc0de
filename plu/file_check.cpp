#include "file_check.hpp"

#include <algorithm>
#include <array>

#include "base/limits.hpp"
#include "line_check.hpp"
#include "plu_line.hpp"

namespace ktnet {

namespace {

constexpr char end_of_file_mark = 0x1A;

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

std::string six_digits(std::uint32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return digits;
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
        case FindingKind::plu_out_of_range:
            return "plu_out_of_range";
        case FindingKind::unnamed_article:
            return "unnamed_article";
    }
    return "unknown";
}

Severity severity_of(FindingKind kind) {
    return kind == FindingKind::utf8_name ? Severity::note : Severity::problem;
}

PluFileChecker::PluFileChecker(CheckRules rules, Report report)
    : rules_(rules), report_(std::move(report)) {}

void PluFileChecker::add(std::size_t line, std::size_t column, FindingKind kind,
                         std::string message) {
    line_findings_.push_back({line, column, kind, std::move(message)});
}

void PluFileChecker::flush() {
    std::stable_sort(line_findings_.begin(), line_findings_.end(),
                     [](const Finding& a, const Finding& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    for (Finding& f : line_findings_) report_(std::move(f));
    line_findings_.clear();
}

void PluFileChecker::line(std::string_view text) {
    pending_.push_back({next_number_++, std::string(text)});
    settle(false);
}

// A short first pending line may be the start of a record that LF bytes split: the pieces
// joined by LFs make one whole line, and each LF sits where the reader writes any byte.
PluFileChecker::Split PluFileChecker::split_end(std::size_t& last) const {
    std::size_t length = pending_.front().text.size();
    for (std::size_t j = 1; length < line_columns; ++j) {
        if (j == pending_.size()) return Split::unknown;
        if (kind_at(length) == ColumnKind::other) return Split::no;
        length += 1 + pending_[j].text.size();
        // The reader's lines end in a CR of their own, one character more than typed lines.
        if (length == line_columns || length == line_columns + 1) {
            last = j;
            return Split::yes;
        }
    }
    return Split::no;
}

void PluFileChecker::settle(bool at_end) {
    while (!pending_.empty()) {
        const Pending& first = pending_.front();
        const std::string_view text = first.text;
        const std::size_t number = first.number;
        if (text.empty() || text.front() == '\0') {
            add(number, 0, FindingKind::unreadable_line,
                text.empty() ? "the line is empty: ldk stops here"
                             : "the line begins with a NUL byte: ldk stops here");
        } else if (text.size() > max_line_length) {
            add(number, max_line_length, FindingKind::too_long,
                join({"the line is ", std::to_string(text.size()),
                      " characters long: ldk stops at a line over 142"}));
            check_record(text, number);
        } else if (text.size() < line_columns) {
            const bool cut_by_mark =
                at_end && pending_.size() == 1 && end_.at_mark && end_.mid_line;
            std::size_t last = 0;
            const Split split = cut_by_mark ? Split::no : split_end(last);
            if (split == Split::unknown && !at_end) return;  // wait for the lines after it
            if (split == Split::yes) {
                const std::size_t column = text.size();
                add(number, column, FindingKind::split_record,
                    join({holds(column, '\n', "a line feed"),
                          ", which splits this record over lines ", std::to_string(number), " to ",
                          std::to_string(number + last)}));
                std::string joined(text);
                for (std::size_t j = 1; j <= last; ++j) (joined += '\n') += pending_[j].text;
                check_record(joined, number);
                flush();
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(last) + 1);
                continue;
            }
            if (!cut_by_mark) {
                add(number, text.size(), FindingKind::cut_short,
                    join({"the line ends at column ", std::to_string(text.size()),
                          ", before column 140: ldk reads the missing number columns as 0 and "
                          "the name as spaces"}));
            }
            check_record(text, number);
        } else {
            check_record(text, number);
        }
        flush();
        pending_.pop_front();
    }
}

void PluFileChecker::check_record(std::string_view record, std::size_t line) {
    const auto fault = find_number_column_fault(record);
    if (fault) add(line, fault->column, FindingKind::number_column, describe(*fault));
    const auto clean_before = [&](std::size_t column) { return !fault || fault->column > column; };

    const PluField& plu = plu_fields.front();
    if (clean_before(plu.column + field_width(plu) - 1)) {
        const std::uint32_t number = plu_number_of_line(record);
        if (number > highest_request_plu) {
            add(line, plu.column, FindingKind::plu_out_of_range,
                join({"PLU ", six_digits(number),
                      " is above 65535: a request carries 16 bits of a PLU number, so the scale "
                      "could never be asked for it again"}));
        }
        if (line_of_plu_.empty()) line_of_plu_.resize(line_plu_numbers);
        std::uint32_t& first = line_of_plu_[number];
        if (first != 0) {
            add(line, plu.column, FindingKind::duplicate_plu,
                join({"PLU ", six_digits(number), " is on line ", std::to_string(first),
                      " as well: the later line replaces it in the scale"}));
        } else {
            first = static_cast<std::uint32_t>(line);
        }
    }
    if (rules_.for_ldk && clean_before(119)) {
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
    if (rules_.named_articles && !fault) {
        RecordFrame r{};
        if (parse_line_as_written(record, r) && blank_name(r) && !settings_zero(r)) {
            add(line, name_column, FindingKind::unnamed_article,
                "the name is blank, and the settings are not all zero: an article without a name "
                "(did a list leave the names out?)");
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

void PluFileChecker::end(const TextEnd& how) {
    end_ = how;
    const std::size_t last_line = next_number_ - 1;
    // The length of the line the mark cut, before it is settled away.
    const std::size_t cut_length =
        how.mid_line && !pending_.empty() ? pending_.back().text.size() : 0;
    settle(true);
    if (!how.at_mark) return;
    const bool something_after = !how.bytes_after || *how.bytes_after > 0;
    if (!how.mid_line && !something_after) return;  // an end mark at the very end
    const std::size_t line = how.mid_line ? last_line : last_line + 1;
    const std::size_t column = how.mid_line ? cut_length : 0;
    std::string rest = "rest of this line";
    if (how.bytes_after && *how.bytes_after > 0) {
        rest = std::to_string(*how.bytes_after) + " bytes after it";
    } else if (!how.bytes_after) {
        rest = "rest of the file";
    }
    add(line, column, FindingKind::end_of_file_mark,
        join({holds(column, end_of_file_mark, "a 0x1A byte"),
              ", which ends the file: ldk never "
              "reads the ",
              rest}));
    flush();
}

std::vector<Finding> check_plu_file(std::span<const std::uint8_t> content, CheckRules rules) {
    std::vector<Finding> findings;
    PluFileChecker checker(rules, [&](Finding&& f) { findings.push_back(std::move(f)); });
    const std::string_view all(reinterpret_cast<const char*>(content.data()), content.size());
    const std::size_t text_size = std::min(all.find(end_of_file_mark), all.size());
    const std::string_view text = all.substr(0, text_size);
    std::size_t start = 0;
    bool mid_line = false;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            checker.line(text.substr(start));
            mid_line = true;
            break;
        }
        const std::size_t end = (lf > start && text[lf - 1] == '\r') ? lf - 1 : lf;
        checker.line(text.substr(start, end - start));
        start = lf + 1;
    }
    const bool marked = text_size < all.size();
    checker.end(
        {marked, mid_line, marked ? std::optional<std::uint64_t>(all.size() - text_size - 1) : 0});
    return findings;
}

}  // namespace ktnet
