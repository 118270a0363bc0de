#include "status.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "base/limits.hpp"
#include "formats/record_fields.hpp"
#include "plu/field_table.hpp"
#include "sending.hpp"
#include "text_table.hpp"

namespace ktnet {

namespace {

std::string when(const std::optional<TimePoint>& t) {
    return t ? local_time(*t, "{:%Y-%m-%d %H:%M}") : std::string("-");
}

std::string json_time(const std::optional<TimePoint>& t) {
    return t ? store_time(*t) : std::string();
}

// The scales asked for: a list, or every scale of the shop file.
// The words of the command line as one list of scales.
std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : ",") + w;
    return text;
}

Result<std::vector<ScaleAddress>, std::string> scales_asked(const std::vector<std::string>& words,
                                                            const Shop& shop) {
    if (!words.empty()) return select_scales(joined(words), shop);
    std::vector<ScaleAddress> all;
    for (const ShopScale& s : shop.scales) all.push_back(s.address);
    if (all.empty())
        return unexpected(std::string("name the scales: the shop file lists none (see --shop)"));
    return all;
}

// One row of the history: a field that changed, or the whole record when the store did not
// know it before.
struct FieldChange {
    std::string field, before, after;
    std::string name{};  // the shop's name of the field, when the fields file gives one
};

std::vector<FieldChange> field_changes(const ChangeRow& c, const NameDisplay& names,
                                       const FieldNames& fields) {
    std::vector<FieldChange> list;
    const RecordFrame after = frame_of(*c.after);
    if (!c.before) {
        list.push_back({"record", "(not known)", "\"" + names.of(after) + "\""});
        return list;
    }
    const RecordFrame before = frame_of(*c.before);
    for (const std::size_t f : differing_fields(before, after)) {
        const std::string name = fields.named(f) ? fields.name(f) : std::string();
        if (plu_fields[f].encoding == FieldEncoding::raw) {
            list.push_back({column_name(f), "\"" + names.of(before) + "\"",
                            "\"" + names.of(after) + "\"", name});
        } else {
            list.push_back({column_name(f), field_text(before, f), field_text(after, f), name});
        }
    }
    if (before[unused_frame_byte] != after[unused_frame_byte]) {
        list.push_back({"byte36", std::to_string(before[unused_frame_byte]),
                        std::to_string(after[unused_frame_byte])});
    }
    return list;
}

std::string cause_text(const ChangeRow& c) {
    if (c.cause == ChangeCause::found)
        return fmt::format("found by the {} of job {}: changed elsewhere", c.job_kind, c.job);
    return fmt::format("{} (job {})", cause_name(c.cause), c.job);
}

}  // namespace

int run_status(const StatusOptions& options, ShopEnvironment&, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    auto scales = scales_asked(options.scales, *shop);
    if (!scales) return output.fail(scales.error());
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    std::vector<ScaleStatus> rows;
    for (const ScaleAddress& s : *scales) {
        auto status = store->status(s);
        if (!status) return output.fail(status.error());
        rows.push_back(std::move(*status));
    }
    if (output.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const ScaleStatus& r : rows) {
            nlohmann::json j = {{"address", r.scale.text()},
                                {"name", shop->name_of(r.scale)},
                                {"last_contact", json_time(r.last_contact)},
                                {"known", r.known},
                                {"unknown", r.unknown},
                                {"found_by_last_backup", r.found_by_last_backup}};
            if (r.last_backup) {
                j["last_backup"] = {{"time", store_time(r.last_backup->taken)},
                                    {"records", r.last_backup->records},
                                    {"named", r.last_backup->named},
                                    {"file", r.last_backup->file}};
            }
            if (r.last_load) {
                j["last_load"] = {{"time", store_time(r.last_load->started)},
                                  {"kind", r.last_load->kind},
                                  {"job", r.last_load->id}};
            }
            list.push_back(j);
        }
        output.document({{"scales", list}, {"store", store->path().string()}, {"status", 0}});
        return ktnet_status::success;
    }
    TextTable table({{"scale"},
                     {"name"},
                     {"last contact"},
                     {"last backup"},
                     {"records", TextTable::Align::right},
                     {"named", TextTable::Align::right},
                     {"last load"},
                     {"known", TextTable::Align::right},
                     {"changed elsewhere", TextTable::Align::right}});
    for (const ScaleStatus& r : rows) {
        table.add({r.scale.text(), shop->name_of(r.scale), when(r.last_contact),
                   r.last_backup ? when(r.last_backup->taken) : "-",
                   r.last_backup ? std::to_string(r.last_backup->records) : "-",
                   r.last_backup ? std::to_string(r.last_backup->named) : "-",
                   r.last_load ? fmt::format("{} {}", when(r.last_load->started), r.last_load->kind)
                               : "-",
                   r.unknown > 0 ? fmt::format("{} ({} unknown)", r.known, r.unknown)
                                 : std::to_string(r.known),
                   r.last_backup ? std::to_string(r.found_by_last_backup) : "-"});
    }
    table.print(output.out());
    return ktnet_status::success;
}

int run_history(const HistoryOptions& options, ShopEnvironment&, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    HistoryFilter filter;
    if (!options.scales.empty()) {
        auto scales = select_scales(joined(options.scales), *shop);
        if (!scales) return output.fail(scales.error());
        filter.scales = std::move(*scales);
    }
    if (!options.plu.empty()) {
        auto plus = parse_number_set(options.plu, 0, highest_request_plu);
        if (!plus) return output.fail("--plu: " + plus.error());
        filter.plus = plus->numbers();
    }
    if (!options.since.empty()) {
        // A local date: its midnight here.
        std::tm tm{};
        if (std::sscanf(options.since.c_str(), "%d-%d-%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday) !=
            3)
            return output.fail("--since " + options.since + ": not a date YYYY-MM-DD");
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        tm.tm_isdst = -1;
        const std::time_t t = std::mktime(&tm);
        if (t == -1) return output.fail("--since " + options.since + ": not a date YYYY-MM-DD");
        filter.since = std::chrono::system_clock::from_time_t(t);
    }
    const auto shop_fields = fields_of(options.device, *shop, output);
    if (!shop_fields) return ktnet_status::trouble;
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    auto changes = store->history(filter);
    if (!changes) return output.fail(changes.error());
    const NameDisplay names;
    if (output.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const ChangeRow& c : *changes) {
            nlohmann::json fields = nlohmann::json::array();
            for (const FieldChange& f : field_changes(c, names, shop_fields->names)) {
                nlohmann::json j = {{"field", f.field}, {"old", f.before}, {"new", f.after}};
                if (!f.name.empty()) j["name"] = f.name;
                fields.push_back(j);
            }
            list.push_back({{"time", store_time(c.time)},
                            {"scale", c.scale.text()},
                            {"plu", c.plu},
                            {"cause", cause_name(c.cause)},
                            {"job", c.job},
                            {"fields", fields}});
        }
        output.document({{"changes", list}, {"status", 0}});
        return ktnet_status::success;
    }
    TextTable table({{"time"},
                     {"scale"},
                     {"PLU", TextTable::Align::right},
                     {"field"},
                     {"old"},
                     {"new"},
                     {"cause"}});
    for (const ChangeRow& c : *changes) {
        for (const FieldChange& f : field_changes(c, names, shop_fields->names)) {
            table.add({when(c.time), c.scale.text(), std::to_string(c.plu),
                       f.name.empty() ? f.field : fmt::format("{} ({})", f.name, f.field), f.before,
                       f.after, cause_text(c)});
        }
    }
    if (table.empty()) {
        output.out() << "no changes\n";
    } else {
        table.print(output.out());
    }
    return ktnet_status::success;
}

void add_status(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* sub = app.add_subcommand(
        "status",
        "What the shop's store knows of each scale: last contact, last backup, last "
        "load, the records known, the changes made elsewhere its last backup found.");
    sub->add_option("SCALES", options->scales, "scales (default: every scale of the shop file)");
    add_device_options(*sub, options->device, true);
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_status(*options, env, output); };
    });
}

void add_history(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<HistoryOptions>();
    CLI::App* sub = app.add_subcommand(
        "history",
        "Every change the shop's store saw, field by field: what a load or restore stored, and "
        "what a backup found changed elsewhere (at the keypad, say).");
    sub->add_option("SCALES", options->scales, "scales (default: every scale)");
    sub->add_option("--plu", options->plu, "only these PLUs: 1-50,77");
    sub->add_option("--since", options->since, "only changes from this day on: YYYY-MM-DD");
    add_fields_option(*sub, options->device);
    add_device_options(*sub, options->device, true);
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_history(*options, env, output); };
    });
}

}  // namespace ktnet
