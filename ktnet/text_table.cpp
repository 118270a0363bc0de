#include "text_table.hpp"

#include <algorithm>
#include <ostream>

#include "base/text.hpp"

namespace ktnet {

namespace {

// Letters, not bytes: every byte but UTF-8's continuation bytes starts one.
std::size_t width_of(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

void TextTable::print(std::ostream& out) const {
    std::vector<std::vector<std::string>> shown;
    shown.reserve(rows_.size() + 1);
    std::vector<std::string> header;
    for (const Column& c : columns_) header.push_back(c.header);
    shown.push_back(header);
    for (const auto& row : rows_) {
        std::vector<std::string> cells;
        for (std::size_t i = 0; i < columns_.size(); ++i)
            cells.push_back(i < row.size() ? printable(row[i]) : std::string());
        shown.push_back(std::move(cells));
    }
    std::vector<std::size_t> widths(columns_.size(), 0);
    for (const auto& row : shown)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width_of(row[i]));
    std::string text;
    for (const auto& row : shown) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - width_of(row[i]), ' ');
            if (i > 0) line += "  ";
            line += columns_[i].align == Align::right ? pad + row[i] : row[i] + pad;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + '\n';
    }
    out << text;
}

}  // namespace ktnet
