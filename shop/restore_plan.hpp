// What a restore will make a scale hold, worked out before anything is sent: a snapshot of the
// store (every byte, 36 included) or a reader's file (every byte but 36, which comes from the
// store's snapshot the file was written with, or from what the store knows the scale holds).
#pragma once

#include <optional>
#include <string>

#include "base/numbers.hpp"
#include "base/result.hpp"
#include "shop/load_plan.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

struct RestoreSource {
    std::string description;         // "the backup of 2026-12-08 03:00", or the file's name
    ScaleAddress of;                 // the scale the snapshot is of
    std::optional<TimePoint> taken;  // when it was taken, when the store knows
    std::map<std::uint32_t, StoredRecord> records;
    std::size_t byte36_unknown = 0;  // a file's records whose byte 36 nothing told
    std::string file{};              // the file, for a file
};

// The store's snapshot of a scale: the newest, or the newest taken on a local date
// ("2026-12-08").
[[nodiscard]] Result<RestoreSource, std::string> snapshot_source(
    ShopStore& store, const ScaleAddress& of, const std::optional<std::string>& date);

// A reader's file of a scale, checked as a load checks it. The scale is the one its columns 0-8
// name (nothing when they name several or none).
[[nodiscard]] Result<RestoreSource, PlanRefusal> file_restore_source(ShopStore& store,
                                                                     const std::string& file,
                                                                     const ScaleAddress& target);

// The plan that makes target hold the source's records (those of plus, when given): every one,
// or with changed those that differ from what the store knows it holds and those it does not
// know.
[[nodiscard]] LoadPlan restore_plan(const RestoreSource& source, const ScaleAddress& target,
                                    const KnownState& known, bool changed,
                                    const std::optional<NumberSet>& plus);

}  // namespace ktnet
