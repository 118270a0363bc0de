// A PLU record's fields by the names ktnet shows them under: "plu", "name" and one per setting
// field after its line columns ("c41_46"), the names export's CSV columns have too.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/code_page.hpp"
#include "link/frame.hpp"
#include "plu/field_table.hpp"
#include "plu/plu_line.hpp"

namespace ktnet {

// The field's name: its index in plu_fields.
std::string field_name(std::size_t field);

// The field's columns as the reader writes them for this record, or as a line holds them.
std::string field_text(const RecordFrame& record, std::size_t field);
std::string field_text(const FormattedLine& line, std::size_t field);

// The record as the reader writes it; columns 0-8 are not part of any field.
FormattedLine line_of(const RecordFrame& record);

// The fields (indexes into plu_fields) whose frame bytes differ.
std::vector<std::size_t> differing_fields(const RecordFrame& a, const RecordFrame& b);

// Names as readable text: UTF-8 through the scales' code page (Windows-1250) where the
// platform has it, every byte kept (see name_text.hpp).
class NameDisplay {
public:
    NameDisplay();
    std::string operator()(std::span<const std::uint8_t> name) const;
    std::string of(const RecordFrame& record) const;

private:
    std::optional<CodePage> code_page_;
};

}  // namespace ktnet
