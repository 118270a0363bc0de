// A PLU record's fields by the names ktnet shows them under: "plu", "name" and one per setting
// field after its line columns ("c41_46"), the names export's CSV columns have too.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "code_page.hpp"
#include "link/frame.hpp"
#include "plu/field_table.hpp"

namespace ktnet {

// The field's name: its index in plu_fields.
const std::string& field_name(std::size_t field);

// The field's columns as the reader writes them for this record.
std::string field_text(const RecordFrame& record, std::size_t field);

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
