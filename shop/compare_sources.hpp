// PLU files and scales compared by PLU number, field by field. Every byte counts: a file against
// a scale is compared as the file's text against the scale's record as the reader writes it,
// and two scales byte for byte, byte 36 (which no line carries) included. A difference that an
// ldk load would make carries that reason, and still counts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "link/frame.hpp"

namespace ktnet {

struct CompareSource {
    std::string label;   // the file name, or "1S1 deli"
    bool scale = false;  // read from a scale: its raw bytes are known, byte 36 included
    struct Entry {
        RecordFrame record{};
        std::string text{};  // columns 0-139: the file's line, or the reader's line of the record
    };
    std::map<std::uint32_t, Entry> records{};
};

struct FieldDifference {
    std::string field;     // "c41_46", "name", "byte36"
    std::string a, b;      // as the line shows them (a name in UTF-8)
    std::string reason{};  // why a copy may make this difference: an ldk load, a line
};

struct PluDifference {
    std::uint32_t plu;
    std::vector<FieldDifference> fields{};
};

struct PairComparison {
    std::size_t compared = 0;  // PLUs both sides hold
    std::vector<PluDifference> differing;
    std::vector<std::uint32_t> only_in_a, only_in_b;
    bool equal() const { return differing.empty() && only_in_a.empty() && only_in_b.empty(); }
};

// A PLU file as a source, read line by line; the reason when a line cannot be read or breaks
// the number-column rule ("prices.txt:7: ..."). A PLU on two lines keeps the later one.
[[nodiscard]] Result<CompareSource, std::string> file_source(const std::string& name);

// Records read from a scale as a source.
CompareSource scale_source(std::string label, const std::vector<RecordFrame>& records);

// Compares by PLU number, every field but columns 0-8 (the address).
[[nodiscard]] PairComparison compare_sources(const CompareSource& a, const CompareSource& b);

}  // namespace ktnet
