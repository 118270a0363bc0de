// What the shop's page shows of the store, as JSON: a scale's articles as the store knows them,
// the differences between what it holds and a snapshot, the recent jobs. Read-only: a page that
// looks changes nothing.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "base/result.hpp"
#include "formats/field_names.hpp"
#include "shop/shop_file.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

// {"address", "name", "columns": [{"column", "name"}], "articles": [{"plu", "name", "unknown",
// "fields": {column: text}}], "snapshots": [{"id", "taken", "records", "file"}]}
// As JSON text.
[[nodiscard]] Result<std::string, std::string> scale_page(ShopStore& store, const Shop& shop,
                                                          const FieldNames& fields,
                                                          const ScaleAddress& scale);

// What the scale holds as the store knows it against one of its snapshots, every byte compared:
// {"differences": [{"plu", "name", "fields": [{"field", "name", "scale", "snapshot"}]}], "same",
// "only_scale": [plu], "only_snapshot": [plu], "unknown": [plu]}
[[nodiscard]] Result<nlohmann::json, std::string> compare_with_snapshot(ShopStore& store,
                                                                        const FieldNames& fields,
                                                                        const ScaleAddress& scale,
                                                                        std::int64_t snapshot_id);

// The newest jobs: [{"id", "kind", "arguments", "origin", "result", "started", "ended"}]
[[nodiscard]] Result<nlohmann::json, std::string> recent_jobs_page(ShopStore& store,
                                                                   std::size_t count);

}  // namespace ktnet
