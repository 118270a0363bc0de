#include "page_data.hpp"

#include <fmt/format.h>

#include "formats/record_fields.hpp"
#include "plu/field_table.hpp"

namespace ktnet {

namespace {

// The setting fields: every field after the PLU number and the name.
bool is_setting(std::size_t f) {
    return plu_fields[f].encoding != FieldEncoding::plu_number &&
           plu_fields[f].encoding != FieldEncoding::raw;
}

// A string as JSON text; the text is UTF-8 (names come through the code page so).
void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string shop_name(const FieldNames& fields, std::size_t f) {
    return fields.named(f) ? fields.name(f) : std::string();
}

}  // namespace

Result<std::string, std::string> scale_page(ShopStore& store, const Shop& shop,
                                            const FieldNames& fields, const ScaleAddress& scale) {
    auto known = store.known(scale);
    if (!known) return unexpected(known.error());
    auto snapshots = store.snapshots(scale);
    if (!snapshots) return unexpected(snapshots.error());
    const NameDisplay names;
    nlohmann::json columns = nlohmann::json::array();
    std::vector<std::string> keys;  // "c41_46": as JSON text, once
    for (std::size_t f = 0; f < plu_fields.size(); ++f) {
        if (!is_setting(f)) continue;
        columns.push_back({{"column", column_name(f)}, {"name", shop_name(fields, f)}});
        keys.push_back(nlohmann::json(column_name(f)).dump());
    }
    nlohmann::json shots = nlohmann::json::array();
    for (const SnapshotInfo& s : *snapshots)
        shots.push_back({{"id", s.id},
                         {"taken", store_time(s.taken)},
                         {"records", s.records},
                         {"file", s.file}});
    const nlohmann::json head = {{"address", scale.text()},
                                 {"name", shop.name_of(scale)},
                                 {"columns", columns},
                                 {"snapshots", shots}};
    // The articles written as text straight away: a tree of 10000 JSON objects would cost the
    // page most of its time.
    std::string text = head.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the closing brace
    text.reserve(text.size() + known->records.size() * 400);
    text += ",\"articles\":[";
    bool first = true;
    for (const auto& [plu, record] : known->records) {
        if (!first) text += ',';
        first = false;
        text += "{\"plu\":";
        text += std::to_string(plu);
        text += record ? ",\"unknown\":false,\"name\":" : ",\"unknown\":true,\"name\":";
        if (!record) {
            text += "\"\",\"fields\":{}}";
            continue;
        }
        const RecordFrame frame = frame_of(*record);
        const FormattedLine line = line_of(frame);  // once: every field is cut from it
        append_json_string(text, names.of(frame));
        text += ",\"fields\":{";
        std::size_t k = 0;
        for (std::size_t f = 0; f < plu_fields.size(); ++f) {
            if (!is_setting(f)) continue;
            if (k > 0) text += ',';
            text += keys[k++];
            text += ':';
            append_json_string(text, field_text(line, f));
        }
        text += "}}";
    }
    text += "]}";
    return text;
}

Result<nlohmann::json, std::string> compare_with_snapshot(ShopStore& store,
                                                          const FieldNames& fields,
                                                          const ScaleAddress& scale,
                                                          std::int64_t snapshot_id) {
    auto known = store.known(scale);
    if (!known) return unexpected(known.error());
    auto snapshot = store.snapshot(snapshot_id);
    if (!snapshot) return unexpected(snapshot.error());
    if (snapshot->info.scale != scale)
        return unexpected(fmt::format("snapshot {} is of {}, not of {}", snapshot_id,
                                      snapshot->info.scale.text(), scale.text()));
    const NameDisplay names;
    nlohmann::json differences = nlohmann::json::array();
    nlohmann::json only_scale = nlohmann::json::array(), only_snapshot = nlohmann::json::array(),
                   unknown = nlohmann::json::array();
    std::size_t same = 0;
    for (const auto& [plu, record] : known->records) {
        const auto in_snapshot = snapshot->records.find(plu);
        if (!record) {
            unknown.push_back(plu);
            continue;
        }
        if (in_snapshot == snapshot->records.end()) {
            only_scale.push_back(plu);
            continue;
        }
        if (*record == in_snapshot->second) {
            ++same;
            continue;
        }
        const RecordFrame now = frame_of(*record), then = frame_of(in_snapshot->second);
        nlohmann::json changed = nlohmann::json::array();
        for (const std::size_t f : differing_fields(now, then)) {
            const bool raw = plu_fields[f].encoding == FieldEncoding::raw;
            changed.push_back({{"field", column_name(f)},
                               {"name", shop_name(fields, f)},
                               {"scale", raw ? names.of(now) : field_text(now, f)},
                               {"snapshot", raw ? names.of(then) : field_text(then, f)}});
        }
        if (now[unused_frame_byte] != then[unused_frame_byte]) {
            changed.push_back({{"field", "byte36"},
                               {"name", ""},
                               {"scale", std::to_string(now[unused_frame_byte])},
                               {"snapshot", std::to_string(then[unused_frame_byte])}});
        }
        differences.push_back({{"plu", plu}, {"name", names.of(now)}, {"fields", changed}});
    }
    for (const auto& [plu, record] : snapshot->records)
        if (!known->records.contains(plu)) only_snapshot.push_back(plu);
    return nlohmann::json{
        {"differences", differences},
        {"same", same},
        {"only_scale", only_scale},
        {"only_snapshot", only_snapshot},
        {"unknown", unknown},
        {"snapshot", {{"id", snapshot->info.id}, {"taken", store_time(snapshot->info.taken)}}}};
}

Result<nlohmann::json, std::string> recent_jobs_page(ShopStore& store, std::size_t count) {
    auto jobs = store.recent_jobs(count);
    if (!jobs) return unexpected(jobs.error());
    nlohmann::json list = nlohmann::json::array();
    for (const JobRow& j : *jobs)
        list.push_back({{"id", j.id},
                        {"kind", j.kind},
                        {"arguments", j.arguments},
                        {"origin", j.origin},
                        {"result", j.result},
                        {"started", store_time(j.started)},
                        {"ended", j.ended ? store_time(*j.ended) : std::string()}});
    return list;
}

}  // namespace ktnet
