// Every problem of a PLU file as stored, each with its line and column: what a user checks
// before loading a file made or edited by hand, and what ktnet refuses to load. The file is fed
// one line at a time, so a file of any size is checked in the same little memory. Nothing here
// prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ktnet {

enum class FindingKind : std::uint8_t {
    unreadable_line,   // empty, or beginning with NUL: the loader stops there
    too_long,          // over 142 characters: the loader stops there
    cut_short,         // under 140 columns: the rest would read as "0" (numbers) and spaces (name)
    number_column,     // a character the reader never writes in a number column
    split_record,      // a LF byte (in the name, or a Digit byte 0xDA) splits one record in two
    end_of_file_mark,  // a 0x1A byte (in the name, or a Digit byte 0xEA) ends the file early
    byte65_changes,    // columns 118-119 do not survive ldk's load (only with for_ldk)
    utf8_name,         // the name reads as UTF-8, not the scales' single-byte code page
    duplicate_plu,     // a PLU number an earlier line has too
    plu_out_of_range,  // a PLU number above 65535, which no request can ask a scale for
    unnamed_article,   // a blank name with settings that are not all zero
};

// A stable name for scripts: "too_long", "duplicate_plu", ...
std::string_view kind_name(FindingKind kind);

// A problem stops a load; a note only tells (a name that merely looks like UTF-8 may be right).
enum class Severity : std::uint8_t { problem, note };
Severity severity_of(FindingKind kind);

struct Finding {
    std::size_t line;    // counted from 1, as the loader counts lines
    std::size_t column;  // counted from 0, as the line's layout counts columns
    FindingKind kind;
    std::string message;  // one English sentence without the place

    bool is_problem() const { return severity_of(kind) == Severity::problem; }
};

struct CheckRules {
    // Also what ldk (which reads columns 118-119 back as BCD) would store differently.
    bool for_ldk = false;
    // A record with settings needs a name: a blank name over settings is what a list that left
    // the names out makes. (A wholly empty record is an empty PLU, as scales hold many.) Off to
    // put back exactly what a scale held.
    bool named_articles = true;
};

// How the text of a file ended.
struct TextEnd {
    bool at_mark = false;   // at a 0x1A byte
    bool mid_line = false;  // the last line had no LF
    // Bytes after the 0x1A byte, when known; nothing for a stream of unknown length.
    std::optional<std::uint64_t> bytes_after;
};

class PluFileChecker {
public:
    using Report = std::function<void(Finding&&)>;
    // Each finding goes to report as soon as its line is settled, in the order of lines and
    // within a line of columns.
    PluFileChecker(CheckRules rules, Report report);

    // The next line as the text-file rules read it, without its LF.
    void line(std::string_view text);
    // No more lines.
    void end(const TextEnd& how);

private:
    struct Pending {
        std::size_t number;
        std::string text;
    };
    enum class Split { yes, no, unknown };

    void settle(bool at_end);
    Split split_end(std::size_t& last) const;
    void check_record(std::string_view record, std::size_t line);
    void add(std::size_t line, std::size_t column, FindingKind kind, std::string message);
    void flush();

    CheckRules rules_;
    Report report_;
    std::deque<Pending> pending_;  // lines not settled yet: a short line may be a split record
    std::size_t next_number_ = 1;
    TextEnd end_{};
    std::vector<Finding> line_findings_;      // of the record being settled
    std::vector<std::uint32_t> line_of_plu_;  // by PLU number; 0 = not seen
};

// The findings of a whole file's bytes, read with the programs' text-file rules (CR LF is a line
// end, a lone CR an ordinary byte, and the first 0x1A ends the file).
std::vector<Finding> check_plu_file(std::span<const std::uint8_t> content, CheckRules rules = {});

}  // namespace ktnet
