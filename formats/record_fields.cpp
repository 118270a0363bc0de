#include "formats/record_fields.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "formats/field_names.hpp"
#include "formats/name_text.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

std::string field_name(std::size_t field) {
    return column_name(field);
}

FormattedLine line_of(const RecordFrame& record) {
    // Columns 0-8 are not part of any field, so any scale serves.
    return format_line(*ScaleAddress::make(1, 'S', 1), record);
}

std::string field_text(const FormattedLine& line, std::size_t field) {
    const PluField& f = plu_fields.at(field);
    return std::string(line.begin() + f.column, line.begin() + f.column + field_width(f));
}

std::string field_text(const RecordFrame& record, std::size_t field) {
    return field_text(line_of(record), field);
}

std::vector<std::size_t> differing_fields(const RecordFrame& a, const RecordFrame& b) {
    std::vector<std::size_t> fields;
    for (std::size_t i = 0; i < plu_fields.size(); ++i) {
        const PluField& f = plu_fields[i];
        if (!std::equal(a.begin() + f.frame_byte, a.begin() + f.frame_byte + f.bytes,
                        b.begin() + f.frame_byte))
            fields.push_back(i);
    }
    return fields;
}

NameDisplay::NameDisplay() {
    if (auto page = CodePage::open("1250")) code_page_.emplace(std::move(*page));
}

std::string NameDisplay::operator()(std::span<const std::uint8_t> name) const {
    if (code_page_) return name_to_text(name, *code_page_);
    std::string text;
    for (const std::uint8_t b : name) {
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text += static_cast<char>(b);
        } else {
            text += fmt::format("\\x{:02X}", b);
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string NameDisplay::of(const RecordFrame& record) const {
    return (*this)(std::span<const std::uint8_t>(record.data() + name_frame_byte, name_length));
}

}  // namespace ktnet
