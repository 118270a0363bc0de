// Every problem of a PLU file as stored, each with its line and column: what a user checks
// before loading a file made or edited by hand. Nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ktnet {

enum class FindingKind : std::uint8_t {
    unreadable_line,   // empty, or beginning with NUL: the loader stops there
    too_long,          // over 142 characters: the loader stops there
    cut_short,         // under 140 columns: the rest reads as "0" (numbers) and spaces (name)
    number_column,     // a character the reader never writes in a number column
    split_record,      // a LF byte (in the name, or a Digit byte 0xDA) splits one record in two
    end_of_file_mark,  // a 0x1A byte (in the name, or a Digit byte 0xEA) ends the file early
    byte65_changes,    // columns 118-119 do not survive a copy from a scale
    utf8_name,         // the name reads as UTF-8, not the scales' single-byte code page
    duplicate_plu,     // a PLU number an earlier line has too
};

// A stable name for scripts: "too_long", "duplicate_plu", ...
std::string_view kind_name(FindingKind kind);

struct Finding {
    std::size_t line;    // counted from 1, as the loader counts lines
    std::size_t column;  // counted from 0, as the line's layout counts columns
    FindingKind kind;
    std::string message;  // one English sentence without the place
};

// The findings of a file's bytes, read with the programs' text-file rules (CR LF is a line end,
// a lone CR an ordinary byte, and the first 0x1A ends the file), ordered by line and column.
// A record split by a LF is checked as the whole record it was, and reported once.
std::vector<Finding> check_plu_file(std::span<const std::uint8_t> content);

}  // namespace ktnet
