// What one PLU text line may hold, beyond what the loader needs to read it: the characters the
// reader never writes in a number column, and the other traps of a line edited by hand.
// Every rule comes from the field table; nothing here prints.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.hpp"
#include "field_table.hpp"

namespace ktnet {

// What the reader writes in one column of a line, and so what the loader accepts there.
enum class ColumnRule : std::uint8_t {
    any,           // the name, Digit columns, and columns the loader never reads
    digit,         // '0'-'9': PLU columns, Decimal units
    bcd,           // '0'-'?': a nibble 0-15
    decimal_tens,  // '0'-'I': a byte divided by 10, 0-25
};

// The rule of every column of a line, derived from the field table.
consteval std::array<ColumnRule, line_columns> column_rules() {
    std::array<ColumnRule, line_columns> rules{};
    for (const PluField& f : plu_fields) {
        const std::size_t c = f.column;
        switch (f.encoding) {
            case FieldEncoding::plu_number:
                for (std::size_t i = 0; i < field_width(f); ++i) rules[c + i] = ColumnRule::digit;
                break;
            case FieldEncoding::bcd:
                for (std::size_t i = 0; i < field_width(f); ++i) rules[c + i] = ColumnRule::bcd;
                break;
            case FieldEncoding::decimal:
            case FieldEncoding::decimal_out_bcd_in:
                rules[c] = ColumnRule::decimal_tens;
                rules[c + 1] = ColumnRule::digit;
                break;
            case FieldEncoding::raw:
            case FieldEncoding::digit:
                break;
        }
    }
    return rules;
}

// True when the rule admits the byte.
constexpr bool admits(ColumnRule rule, std::uint8_t b) {
    switch (rule) {
        case ColumnRule::any:
            return true;
        case ColumnRule::digit:
            return b >= '0' && b <= '9';
        case ColumnRule::bcd:
            return b >= '0' && b <= '?';
        case ColumnRule::decimal_tens:
            return b >= '0' && b <= 'I';
    }
    return false;
}

struct NumberColumnFault {
    std::size_t column;         // counted from 0
    std::uint8_t byte;          // what the column holds
    std::string_view expected;  // what belongs there, e.g. "a digit"
};

// The first column of a line (as read, without its LF) that holds, in a column the loader reads
// as a number, a character the reader never writes there. Columns past the end of a short line
// read as "0" and are never a fault; columns from 140 on are never read.
[[nodiscard]] std::optional<NumberColumnFault> find_number_column_fault(std::string_view line);

// One English phrase for a message: "column 41 holds ' ' where a digit belongs".
std::string describe(const NumberColumnFault& fault);

// Why the loader would refuse a line (as read, without its LF), in one English phrase, or
// nothing: the line is empty, begins with a NUL byte, is longer than 142 characters, or breaks
// a number column's rule.
[[nodiscard]] std::optional<std::string> find_line_refusal(std::string_view line);

// The PLU number a line's columns 9-14 give, the missing ones of a short line read as "0". Only
// meaningful when those columns pass the number-column rule.
std::uint32_t plu_number_of_line(std::string_view line);

// Columns 118-119 as the reader writes them (a byte in decimal) are read back as BCD, so only
// "00" to "09" survive a copy from a scale. When they would change: the byte the loader stores,
// which a read-back shows in decimal. Only meaningful when the columns pass the rule.
[[nodiscard]] std::optional<std::uint8_t> byte65_changed(std::string_view line);

// The column of the first multi-byte UTF-8 sequence in the name when the name reads as UTF-8
// text: it holds one, and every byte above 0x7F belongs to a well-formed sequence (the last may
// be cut by the end of the field).
[[nodiscard]] std::optional<std::size_t> find_utf8_in_name(std::string_view line);

}  // namespace ktnet
