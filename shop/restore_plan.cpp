#include "shop/restore_plan.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "cli/replaced_file.hpp"
#include "plu/field_table.hpp"
#include "shop/load_log.hpp"

namespace ktnet {

namespace {

std::string local_text(TimePoint t) {
    return fmt::format("{:%Y-%m-%d %H:%M}",
                       fmt::localtime(std::chrono::system_clock::to_time_t(t)));
}

std::string local_date(TimePoint t) {
    return fmt::format("{:%Y-%m-%d}", fmt::localtime(std::chrono::system_clock::to_time_t(t)));
}

// Equal but for byte 36.
bool same_but_byte36(const StoredRecord& a, const StoredRecord& b) {
    constexpr std::size_t at = unused_frame_byte - payload_index;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (i != at && a[i] != b[i]) return false;
    return true;
}

}  // namespace

Result<RestoreSource, std::string> snapshot_source(ShopStore& store, const ScaleAddress& of,
                                                   const std::optional<std::string>& date) {
    auto list = store.snapshots(of);
    if (!list) return unexpected(list.error());
    for (const SnapshotInfo& info : *list) {
        if (date && local_date(info.taken) != *date) continue;
        // A backup that shrank is kept to look at, never to restore unasked: --from FILE names it.
        if (info.file.ends_with("-shrunk.txt")) continue;
        auto snapshot = store.snapshot(info.id);
        if (!snapshot) return unexpected(snapshot.error());
        return RestoreSource{fmt::format("the backup of {} of {} ({} records)",
                                         local_text(info.taken), of.text(), info.records),
                             of, info.taken, std::move(snapshot->records)};
    }
    if (date)
        return unexpected(
            fmt::format("the store holds no backup of {} taken on {}", of.text(), *date));
    return unexpected(fmt::format(
        "the store holds no backup of {}: back it up first, or name a backup file with --from FILE",
        of.text()));
}

Result<RestoreSource, PlanRefusal> file_restore_source(ShopStore& store, const std::string& file,
                                                       const ScaleAddress& target) {
    LoadRequest request{file, {target}};
    request.rules.named_articles = false;  // what the scale held, as it held it
    auto plan = plan_load(request);
    if (!plan) return unexpected(std::move(plan.error()));
    std::optional<ScaleAddress> of;
    if (plan->file_scales.size() == 1) of = ScaleAddress::parse(plan->file_scales.front());
    RestoreSource source{file, of.value_or(target), std::nullopt, {}, 0, file};
    for (const PlannedRecord& p : plan->records) source.records[p.plu] = stored_of(p.record);

    // Byte 36: from the snapshot this very file was written with, else from what the store
    // knows the scale holds.
    std::optional<Snapshot> written_with;
    if (auto list = store.snapshots(source.of)) {
        for (const SnapshotInfo& info : *list) {
            if (info.file.empty() || !same_file(info.file, file)) continue;
            if (auto s = store.snapshot(info.id)) written_with = std::move(*s);
            break;
        }
    }
    if (written_with) source.taken = written_with->info.taken;
    auto known = store.known(target);
    constexpr std::size_t at = unused_frame_byte - payload_index;
    for (auto& [plu, record] : source.records) {
        std::optional<StoredRecord> from;
        if (written_with) {
            if (const auto it = written_with->records.find(plu);
                it != written_with->records.end() && same_but_byte36(it->second, record))
                from = it->second;
        }
        if (!from && known) {
            if (const auto it = known->records.find(plu); it != known->records.end() && it->second)
                from = *it->second;
        }
        if (from) {
            record[at] = (*from)[at];
        } else {
            ++source.byte36_unknown;
        }
    }
    return source;
}

LoadPlan restore_plan(const RestoreSource& source, const ScaleAddress& target,
                      const KnownState& known, bool changed, const std::optional<NumberSet>& plus) {
    LoadPlan plan;
    ScalePlan scale{target};
    scale.basis_backup = known.latest_backup;
    scale.basis_change = known.latest_change;
    for (const auto& [plu, record] : source.records) {
        if (plus && !plus->contains(plu)) continue;
        RecordFrame frame = frame_of(record);
        const std::uint8_t byte36 = frame[unused_frame_byte];
        frame[unused_frame_byte] = 0;  // as a line gives it, for the log's digest
        const std::size_t index = plan.records.size();
        plan.records.push_back({0, plu, frame, record_digest(frame)});
        scale.byte36.push_back(byte36);
        if (changed) {
            const auto it = known.records.find(plu);
            if (it != known.records.end() && it->second && *it->second == record) {
                ++scale.unchanged;
                continue;
            }
        }
        scale.send.push_back(index);
    }
    scale.byte36_unknown = source.byte36_unknown;
    plan.scales.push_back(std::move(scale));
    return plan;
}

}  // namespace ktnet
