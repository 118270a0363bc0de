#include "shop/price_list.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "base/text.hpp"
#include "formats/file_kind.hpp"
#include "formats/plu_files.hpp"
#include "shop/load_log.hpp"

namespace ktnet {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

std::string fields_given(const RowPatch& row, const FieldNames& names) {
    std::vector<std::string> given;
    for (const RowPatch::Value& v : row.values) given.push_back(names.shown(v.field));
    return fmt::format("{}", fmt::join(given, ", "));
}

}  // namespace

MergeBase base_of_known(const ScaleAddress& scale, const KnownState& known) {
    return {scale.text(), known.records, scale};
}

Result<MergeBase, PlanRefusal> base_of_file(const std::string& file) {
    LoadRequest request{file, {}};
    request.rules.named_articles = false;  // a base is what it is; only the merge must not blank
    auto plan = plan_load(request);
    if (!plan) return unexpected(std::move(plan.error()));
    MergeBase base{file, {}};
    for (const PlannedRecord& p : plan->records) base.records[p.plu] = stored_of(p.record);
    return base;
}

Result<RecordFrame, std::string> merge_row(const RowPatch& row, const MergeBase* base,
                                           const FieldNames& names) {
    const auto fill_in = [&] {
        return base && base->scale ? fmt::format(" (read it first: ktnet backup {} --plu {})",
                                                 base->scale->text(), row.plu)
                                   : std::string();
    };
    if (row.whole && !base) return apply_patch(row, RecordFrame{});
    if (!base) {
        return unexpected(fmt::format(
            "the list gives only {}: the other fields come from a base (--onto FILE or SCALE)",
            fields_given(row, names)));
    }
    const auto it = base->records.find(row.plu);
    if (it == base->records.end() && row.whole) return apply_patch(row, RecordFrame{});
    if (it == base->records.end()) {
        if (base->scale) {
            return unexpected(
                fmt::format("the store does not know what {} holds at PLU {}{}, and the row "
                            "gives only {}",
                            base->name, row.plu, fill_in(), fields_given(row, names)));
        }
        return unexpected(fmt::format(
            "PLU {} is not in {}, and the row gives only {}: a new article needs every field",
            row.plu, base->name, fields_given(row, names)));
    }
    if (!it->second) {
        return unexpected(fmt::format(
            "the store does not know what {} holds at PLU {}: a sending there was never "
            "confirmed{}",
            base->name, row.plu, fill_in()));
    }
    const RecordFrame before = frame_of(*it->second);
    const RecordFrame after = apply_patch(row, before);
    if (blank_name(after) && !blank_name(before)) {
        return unexpected(
            fmt::format("the row empties the name of PLU {}, which {} holds", row.plu, base->name));
    }
    if (blank_name(after) && !settings_zero(after) && settings_zero(before)) {
        return unexpected(
            fmt::format("PLU {} is empty in {}, and the row gives it settings without a name",
                        row.plu, base->name));
    }
    if (settings_zero(after) && !settings_zero(before)) {
        return unexpected(
            fmt::format("the row sets every setting of PLU {} to zero, where {} holds values",
                        row.plu, base->name));
    }
    return after;
}

std::string place_of(const CellProblem& p) {
    std::string where = fmt::format("row {}", p.row);
    if (p.column != npos) {
        where += fmt::format(", column {}", column_letters(p.column));
        if (!p.column_name.empty()) where += fmt::format(" ({})", p.column_name);
    } else if (!p.column_name.empty()) {
        where += fmt::format(", column {}", p.column_name);
    }
    return where;
}

FileResult<PriceListRead> read_price_list(LockedFile& file, const PriceListSettings& settings,
                                          const PriceListHandlers& handlers) {
    std::optional<PluCsvReader> reader;
    PriceListRead read;
    CsvFileReading reading{settings.choice, settings.names_code_page};
    reading.keep_going = handlers.keep_going;
    reading.on_start = handlers.on_start;
    reading.on_row = [&](const CsvRow& row) {
        if (!reader) {
            // A separator that was found is in the header; only a given one may be wrong.
            reader.emplace(settings.names_code_page, settings.names,
                           CsvReadSettings{settings.choice.separator.value_or(';')},
                           handlers.report);
        }
        if (auto patch = reader->row(row)) handlers.on_row(*patch);
    };
    auto facts = read_csv_file(file, reading);
    if (!facts) return facts.error();
    read.facts = std::move(*facts);
    if (read.facts.error) {
        const CsvError& e = *read.facts.error;
        handlers.report({e.row, e.column, "", e.message});
    }
    if (!read.facts.stopped && read.facts.rows == 0)
        handlers.report({1, npos, "", "there is no header row"});
    read.whole = reader && reader->whole();
    return read;
}

bool is_price_list(const std::string& file) {
    if (ascii_lower(file).ends_with(".csv")) return true;
    const auto path = path_of(file);
    if (!path) return false;
    auto opened = LockedFile::open_for_reading(*path);
    if (!opened) return false;
    std::array<std::uint8_t, 256> start{};
    const auto n = opened->read(start);
    if (!n) return false;
    std::string_view text(reinterpret_cast<const char*>(start.data()), *n);
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::string head(text.substr(0, 4));
    return head.size() == 4 && same_word(head.substr(0, 3), "plu") &&
           std::string_view(";,\t").find(head[3]) != std::string_view::npos;
}

Result<PriceListPlan, PlanRefusal> plan_price_list(const PriceListRequest& request) {
    const std::string shown = printable(request.file);
    RefusalList problems;
    const auto trouble = [&](std::string message) {
        return unexpected(PlanRefusal{2, {std::move(message)}, 0});
    };
    const auto path = path_of(request.file);
    if (!path) return trouble(fmt::format("cannot read {}: the name is not valid here", shown));
    auto file = LockedFile::open_for_reading(*path);
    if (!file) return trouble(fmt::format("cannot read {}: {}", shown, file.error().reason));

    std::vector<RowPatch> rows;
    const auto report = [&](CellProblem&& p) {
        problems.add(fmt::format("{}: {}: {}", shown, place_of(p), p.message));
    };
    auto read = read_price_list(*file, request.settings,
                                {request.on_start,
                                 [&](const RowPatch& row) {
                                     if (!request.plus || request.plus->contains(row.plu))
                                         rows.push_back(row);
                                 },
                                 report, request.keep_going});
    if (!read) return trouble(fmt::format("cannot read {}: {}", shown, read.error().reason));
    PriceListPlan result;
    result.facts = read->facts;
    if (read->facts.stopped) return trouble("stopped before anything was sent");
    if (problems.count() > 0) {
        const std::size_t total = problems.count();
        return unexpected(problems.take(1, fmt::format("nothing sent: {} problem{} in {}", total,
                                                       total == 1 ? "" : "s", shown)));
    }
    if (rows.empty()) return trouble(fmt::format("{} gives no article to load", shown));

    LoadPlan& plan = result.plan;
    std::vector<std::uint8_t> byte36;  // of each record, as the store knows its scale holds it
    for (const ScaleAddress& target : request.targets) {
        const auto known_it = request.known.find(target);
        const bool anything_known =
            known_it != request.known.end() &&
            (known_it->second.latest_backup || !known_it->second.records.empty());
        if (!anything_known && !read->whole) {
            problems.add(fmt::format(
                "{}: the store knows nothing of what it holds, and the list gives only some "
                "fields; fill it in with: ktnet backup {}",
                target.text(), target.text()));
            continue;
        }
        const KnownState empty;
        const KnownState& known = known_it == request.known.end() ? empty : known_it->second;
        const MergeBase base = base_of_known(target, known);
        ScalePlan scale{target};
        scale.basis_backup = known.latest_backup;
        scale.basis_change = known.latest_change;
        std::size_t& differ = result.differ[target];
        result.touched[target] = rows.size();
        for (const RowPatch& row : rows) {
            auto merged = merge_row(row, &base, request.settings.names);
            if (!merged) {
                problems.add(fmt::format("{}: row {}: {}: {}", shown, row.row, target.text(),
                                         merged.error()));
                continue;
            }
            const StoredRecord record = stored_of(*merged);
            const auto held = known.records.find(row.plu);
            const bool same =
                held != known.records.end() && held->second && *held->second == record;
            if (!same) ++differ;
            if (held == known.records.end() || !held->second) ++scale.byte36_unknown;
            RecordFrame frame = *merged;
            byte36.push_back(frame[unused_frame_byte]);
            frame[unused_frame_byte] = 0;  // as a line gives it, for the log's digest
            const std::size_t index = plan.records.size();
            plan.records.push_back({row.row, row.plu, frame, record_digest(frame)});
            if (same && request.changed) {
                ++scale.unchanged;
            } else {
                scale.send.push_back(index);
            }
        }
        plan.scales.push_back(std::move(scale));
    }
    if (problems.count() > 0) {
        const std::size_t total = problems.count();
        return unexpected(problems.take(
            1, fmt::format("nothing sent: {} row{} of {} cannot be merged onto what the scales "
                           "hold",
                           total, total == 1 ? "" : "s", shown)));
    }
    // Each scale indexes only its own records.
    for (ScalePlan& scale : plan.scales) scale.byte36 = byte36;
    return result;
}

}  // namespace ktnet
