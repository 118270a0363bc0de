// A price list from the shop's own systems: a CSV that gives "plu" and some fields (plu_csv.hpp),
// merged onto what a base holds, a PLU file or what the store knows a scale holds. Only the
// fields the list gives change; every other byte stays the base's.
//
// A merge never blanks an article: a row is refused when its PLU is not in the base (unless it
// gives every field), when the base's record is not known, when it empties a name the base
// has, when it leaves an article with settings and no name, or when it zeroes every setting of
// a record that had some.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "cli/locked_file.hpp"
#include "formats/csv_file.hpp"
#include "formats/field_names.hpp"
#include "formats/plu_csv.hpp"
#include "shop/load_plan.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

// What a list is merged onto.
struct MergeBase {
    std::string name;  // "1S1", "base.txt": for messages
    // By PLU: the record, or nothing when it is not known (its sending began, and no answer
    // confirmed it).
    std::map<std::uint32_t, std::optional<StoredRecord>> records;
    std::optional<ScaleAddress> scale{};  // a scale's known state: the backup that fills it in
};

// What the store knows a scale holds, as a base.
MergeBase base_of_known(const ScaleAddress& scale, const KnownState& known);
// A PLU file read as a load reads it (checked whole, the refusal says why).
[[nodiscard]] Result<MergeBase, PlanRefusal> base_of_file(const std::string& file);

// The record the row makes of the base's, or why it is refused. base may be nothing for a row
// that gives every field.
[[nodiscard]] Result<RecordFrame, std::string> merge_row(const RowPatch& row, const MergeBase* base,
                                                         const FieldNames& names);

struct PriceListSettings {
    CsvFileChoice choice;
    const CodePage& names_code_page;  // the scales': names are stored in it; also the fallback
    const FieldNames& names;
};

struct PriceListRead {
    CsvFileFacts facts;
    bool whole = false;  // the header gives every field
};

struct PriceListHandlers {
    std::function<void(const CsvFileFacts&)> on_start;  // how the list is read, before any row
    std::function<void(const RowPatch&)> on_row;        // each good row
    PluCsvReader::Report report;                        // each problem
    std::function<bool()> keep_going;                   // asked between blocks
};

// Reads the list row by row. A CSV that is not CSV, or has no header, is a problem too.
[[nodiscard]] FileResult<PriceListRead> read_price_list(LockedFile& file,
                                                        const PriceListSettings& settings,
                                                        const PriceListHandlers& handlers);

// "row 5, column C (price (c41_46))".
std::string place_of(const CellProblem& problem);

// A load of a price list: for each target, the list merged onto what the store knows it holds.
struct PriceListRequest {
    std::string file;
    std::vector<ScaleAddress> targets;
    std::map<ScaleAddress, KnownState> known;
    bool changed = false;  // send only the merged records that differ from the known ones
    std::optional<NumberSet> plus{};
    PriceListSettings settings;
    std::function<bool()> keep_going = [] { return true; };
    std::function<void(const CsvFileFacts&)> on_start = [](const CsvFileFacts&) {};
};

struct PriceListPlan {
    LoadPlan plan;  // the records of every target one after another; each scale its own
    CsvFileFacts facts;
    std::map<ScaleAddress, std::size_t> touched, differ;  // articles the list touches, that differ
};

// Nothing is planned when a row has a problem, or is refused for any target: the refusal names
// each, and for a scale whose state the store does not know, the backup that fills it in.
[[nodiscard]] Result<PriceListPlan, PlanRefusal> plan_price_list(const PriceListRequest& request);

// Whether a file given to load is a price list: its name ends in ".csv", or its first row is a
// CSV header ("plu;..."), which no PLU line can be (a line starts with its scale).
[[nodiscard]] bool is_price_list(const std::string& file);

}  // namespace ktnet
