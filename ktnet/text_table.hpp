// A table of text for a terminal: each column as wide as its widest cell (counted in letters,
// not bytes, so that "wędliny" takes seven), cells shown safe for a terminal.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ktnet {

class TextTable {
public:
    enum class Align { left, right };
    struct Column {
        std::string header;
        Align align = Align::left;
    };

    explicit TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    // The header, then the rows; two spaces between columns, no blanks at a line's end.
    void print(std::ostream& out) const;

private:
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace ktnet
