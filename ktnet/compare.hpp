// ktnet compare A B [C...]: PLU files and scales, record by record and field by field.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "command.hpp"
#include "link/frame.hpp"
#include "scale_access.hpp"

namespace CLI {
class App;
}

namespace ktnet {

struct CompareOptions {
    std::vector<std::string> sources{};
    std::string plu{};  // "A-B"; empty: see run_compare
    DeviceOptions device{};
};

// One side of a comparison: its records by PLU number.
struct CompareSource {
    std::string label;   // the file name, or "1S1 deli"
    bool scale = false;  // read from a scale (byte 36 is known), not from a file
    struct Entry {
        RecordFrame record{};
        std::string
            byte65_text{};  // columns 118-119 as the file has them or the reader writes them
    };
    std::map<std::uint32_t, Entry> records{};
};

struct FieldDifference {
    std::string field;     // "c41_46", "name", "byte36"
    std::string a, b;      // as the line shows them (a name in UTF-8)
    std::string reason{};  // for a known difference: why a faithful copy shows it
};

struct PluDifference {
    std::uint32_t plu;
    std::vector<FieldDifference> fields{};
};

struct PairComparison {
    std::size_t compared = 0;  // PLUs both sides hold
    std::vector<PluDifference> differing;
    std::vector<std::uint32_t> only_in_a, only_in_b;
    std::vector<PluDifference> known;  // only the format's known asymmetries
    bool equal() const { return differing.empty() && only_in_a.empty() && only_in_b.empty(); }
};

// A PLU file's lines (as read, without their LF) as a source. Nothing, with the reason in
// error, when a line cannot be read or breaks the number-column rule. A PLU on two lines keeps
// the later one.
[[nodiscard]] std::optional<CompareSource> file_source(std::string label,
                                                       const std::vector<std::string>& lines,
                                                       std::string& error);

// Records read from a scale as a source.
CompareSource scale_source(std::string label, const std::vector<RecordFrame>& records);

// Compares by PLU number, every field but columns 0-8 (the address). Two differences every
// copy through a PLU file makes are sorted out as known, never as differences: byte 36, which
// no line carries (a copy stores 0), between two scales; and columns 118-119, written as a
// decimal number and loaded as BCD, when one side's value is what a copy of the other's gives.
[[nodiscard]] PairComparison compare_sources(const CompareSource& a, const CompareSource& b);

// Reads each source (an address or a shop name is a scale; write ./1S1 for a file of that
// name) and compares the first with each of the others. Scales are read over --plu A-B; without
// it, over the PLUs the files hold when there are files, else 1-10000; file records outside
// --plu are left out too. Prints per pair a summary line (equal; N PLUs differ; only in A; only
// in B; known differences), then each differing PLU with its fields; or one JSON document with
// --json. Returns 0 when every pair is equal, 1 when one differs, 2 for trouble (a bad command
// line, a file that cannot be read or holds a line that breaks the rules, a scale that cannot
// be read), 5 when another run holds the controller, 128+N when signal N stopped it.
int run_compare(const CompareOptions& options, ShopEnvironment& env, std::ostream& out,
                std::ostream& err);

void add_compare(CLI::App& app, Command& chosen, ShopEnvironment& env);

}  // namespace ktnet
