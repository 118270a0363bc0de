#include "store/shop_store.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

#include "plu/field_table.hpp"

namespace ktnet {

namespace {

constexpr int schema_version = 1;

constexpr std::string_view schema = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS bodies(id INTEGER PRIMARY KEY, bytes BLOB NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY, kind TEXT NOT NULL,
  arguments TEXT NOT NULL, origin TEXT NOT NULL, started TEXT NOT NULL, ended TEXT,
  result TEXT);
CREATE TABLE IF NOT EXISTS job_scales(job INTEGER NOT NULL REFERENCES jobs(id),
  scale TEXT NOT NULL, state TEXT NOT NULL, done INTEGER NOT NULL, total INTEGER NOT NULL,
  PRIMARY KEY(job, scale)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS known(scale TEXT NOT NULL, plu INTEGER NOT NULL,
  body INTEGER REFERENCES bodies(id), pending INTEGER NOT NULL, job INTEGER, since TEXT NOT NULL,
  PRIMARY KEY(scale, plu)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS snapshots(id INTEGER PRIMARY KEY, scale TEXT NOT NULL,
  job INTEGER REFERENCES jobs(id), taken TEXT NOT NULL, records INTEGER NOT NULL,
  named INTEGER NOT NULL, file TEXT NOT NULL, contents BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS snapshots_by_scale ON snapshots(scale, taken);
CREATE TABLE IF NOT EXISTS changes(id INTEGER PRIMARY KEY, time TEXT NOT NULL,
  scale TEXT NOT NULL, plu INTEGER NOT NULL, old_body INTEGER, new_body INTEGER,
  cause TEXT NOT NULL, job INTEGER);
CREATE INDEX IF NOT EXISTS changes_by_scale ON changes(scale, time);
CREATE TABLE IF NOT EXISTS contacts(scale TEXT PRIMARY KEY, last TEXT NOT NULL);
)";

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

// A snapshot's contents: for each PLU in rising order, the step from the PLU before and the
// record's body, each as LEB128. About 4 bytes a record.
void put_varint(std::vector<std::uint8_t>& out, std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7F;
        v >>= 7;
        if (v != 0) b |= 0x80;
        out.push_back(b);
    } while (v != 0);
}

std::optional<std::uint64_t> get_varint(const std::vector<std::uint8_t>& in, std::size_t& at) {
    std::uint64_t v = 0;
    for (unsigned shift = 0; at < in.size() && shift < 64; shift += 7) {
        const std::uint8_t b = in[at++];
        v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if ((b & 0x80) == 0) return v;
    }
    return std::nullopt;
}

bool named(const StoredRecord& r) {
    const auto name = r.begin() + (name_frame_byte - payload_index);
    return std::any_of(name, name + name_length, [](std::uint8_t b) { return b != ' ' && b != 0; });
}

template <class T>
Result<T, std::string> failed(const std::string& what, const std::string& why) {
    return unexpected(what + ": " + why);
}

std::optional<ScaleAddress> scale_of(const std::string& text) {
    return ScaleAddress::parse(text);
}

JobRow job_row(const sql::Statement& s, int first) {
    JobRow j{s.integer(first),  s.text(first + 1),
             s.text(first + 2), s.text(first + 3),
             s.text(first + 6), parse_store_time(s.text(first + 4)).value_or(TimePoint{}),
             std::nullopt};
    if (!s.is_null(first + 5)) j.ended = parse_store_time(s.text(first + 5));
    return j;
}

// Every row of a query of job_columns.
Result<std::vector<JobRow>, std::string> job_rows(sql::Statement& rows) {
    std::vector<JobRow> list;
    for (;;) {
        auto row = rows.step();
        if (!row) return failed<std::vector<JobRow>>("cannot read the store", row.error());
        if (!*row) break;
        list.push_back(job_row(rows, 0));
    }
    return list;
}

constexpr std::string_view job_columns =
    "j.id, j.kind, j.arguments, j.origin, j.started, j.ended, j.result";

}  // namespace

StoredRecord stored_of(const RecordFrame& record) {
    StoredRecord s;
    std::copy(record.begin() + payload_index, record.begin() + record_checksum_index, s.begin());
    return s;
}

RecordFrame frame_of(const StoredRecord& stored) {
    RecordFrame f{};
    f[0] = frame_head;
    f[1] = frame_head;
    f[command_index] = answer_plu;
    std::copy(stored.begin(), stored.end(), f.begin() + payload_index);
    f[record_frame_length - 1] = frame_terminator;
    return f;
}

std::uint32_t plu_of(const StoredRecord& s) {
    return static_cast<std::uint32_t>(s[0]) | (static_cast<std::uint32_t>(s[1]) << 8) |
           (static_cast<std::uint32_t>(s[2]) << 16);
}

std::string store_time(TimePoint t) {
    return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}",
                       fmt::gmtime(std::chrono::system_clock::to_time_t(t)));
}

std::optional<TimePoint> parse_store_time(const std::string& text) {
    int y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &s) != 6)
        return std::nullopt;
    // Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm), so that no time zone
    // of the machine comes into it.
    y -= mo <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days =
        static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
    return TimePoint(std::chrono::seconds(days * 86400 + h * 3600 + mi * 60 + s));
}

std::string_view cause_name(ChangeCause cause) {
    switch (cause) {
        case ChangeCause::load:
            return "load";
        case ChangeCause::restore:
            return "restore";
        case ChangeCause::found:
            return "found";
    }
    return "?";
}

void StoreBatch::sending(const ScaleAddress& scale, std::uint32_t plu) {
    entries_.push_back({Entry::Kind::sending, scale, plu});
}

void StoreBatch::confirmed(const ScaleAddress& scale, const StoredRecord& record,
                           ChangeCause cause) {
    entries_.push_back({Entry::Kind::confirmed, scale, plu_of(record), record, cause});
}

void StoreBatch::read(const ScaleAddress& scale, const StoredRecord& record) {
    entries_.push_back({Entry::Kind::read, scale, plu_of(record), record});
}

void StoreBatch::contact(const ScaleAddress& scale) {
    if (std::find(contacts_.begin(), contacts_.end(), scale) == contacts_.end())
        contacts_.push_back(scale);
}

std::size_t KnownState::unknown() const {
    return static_cast<std::size_t>(
        std::count_if(records.begin(), records.end(), [](const auto& r) { return !r.second; }));
}

std::optional<std::filesystem::path> ShopStore::default_path(bool machine_shop) {
    if (auto chosen = environment("KTNET_STORE")) return std::filesystem::path(*chosen);
#ifdef _WIN32
    if (machine_shop) {
        if (auto data = environment("PROGRAMDATA"))
            return std::filesystem::path(*data) / "ktnet" / "shop.db";
    }
    if (auto local = environment("LOCALAPPDATA"))
        return std::filesystem::path(*local) / "ktnet" / "shop.db";
    return std::nullopt;
#else
    if (machine_shop) return std::filesystem::path("/var/lib/ktnet/shop.db");
    if (auto state = environment("XDG_STATE_HOME"))
        return std::filesystem::path(*state) / "ktnet" / "shop.db";
    if (auto home = environment("HOME"))
        return std::filesystem::path(*home) / ".local" / "state" / "ktnet" / "shop.db";
    return std::nullopt;
#endif
}

Result<ShopStore, std::string> ShopStore::open(const std::filesystem::path& path) {
    auto db = sql::Database::open(path);
    if (!db) return failed<ShopStore>("cannot open the store " + path.string(), db.error());
    // WAL: a page reading the store never blocks a job writing it. FULL: a commit is on the
    // disk before the request it marks goes out.
    for (const char* pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        if (auto done = db->execute(pragma); !done)
            return failed<ShopStore>("cannot set up the store " + path.string(), done.error());
    }
    if (auto made = db->execute(schema); !made)
        return failed<ShopStore>("cannot set up the store " + path.string(), made.error());
    auto version = db->prepare("SELECT value FROM meta WHERE key = 'schema'");
    if (!version)
        return failed<ShopStore>("cannot read the store " + path.string(), version.error());
    auto row = version->step();
    if (!row) return failed<ShopStore>("cannot read the store " + path.string(), row.error());
    if (*row && version->text(0) != std::to_string(schema_version)) {
        return unexpected(fmt::format("the store {} is of another version ({}) of ktnet",
                                      path.string(), version->text(0)));
    }
    if (!*row) {
        auto set =
            db->execute(fmt::format("INSERT INTO meta VALUES('schema', '{}')", schema_version));
        if (!set) return failed<ShopStore>("cannot set up the store " + path.string(), set.error());
    }
    return ShopStore(std::move(*db), path);
}

Result<std::int64_t, std::string> ShopStore::body_id(const StoredRecord& record) {
    if (const auto it = body_ids_.find(record); it != body_ids_.end()) return it->second;
    auto insert = db_.prepare("INSERT OR IGNORE INTO bodies(bytes) VALUES(?1)");
    if (!insert) return unexpected(insert.error());
    insert->bind(1, record);
    if (auto done = insert->step(); !done) return unexpected(done.error());
    auto find = db_.prepare("SELECT id FROM bodies WHERE bytes = ?1");
    if (!find) return unexpected(find.error());
    find->bind(1, record);
    auto row = find->step();
    if (!row) return unexpected(row.error());
    if (!*row) return unexpected(std::string("a record just stored is missing"));
    const std::int64_t id = find->integer(0);
    body_ids_.emplace(record, id);
    return id;
}

Result<StoredRecord, std::string> ShopStore::body(std::int64_t id) {
    auto find = db_.prepare("SELECT bytes FROM bodies WHERE id = ?1");
    if (!find) return unexpected(find.error());
    find->bind(1, id);
    auto row = find->step();
    if (!row) return unexpected(row.error());
    const auto bytes = *row ? find->blob(0) : std::vector<std::uint8_t>();
    if (bytes.size() != stored_record_length)
        return unexpected(fmt::format("record {} of the store is damaged", id));
    StoredRecord r;
    std::copy(bytes.begin(), bytes.end(), r.begin());
    return r;
}

Result<JobId, std::string> ShopStore::begin_job(const std::string& kind,
                                                const std::string& arguments,
                                                const std::string& origin, TimePoint when) {
    auto insert =
        db_.prepare("INSERT INTO jobs(kind, arguments, origin, started) VALUES(?1, ?2, ?3, ?4)");
    if (!insert) return failed<JobId>("cannot write the store", insert.error());
    insert->bind(1, kind).bind(2, arguments).bind(3, origin).bind(4, store_time(when));
    if (auto done = insert->step(); !done)
        return failed<JobId>("cannot write the store", done.error());
    return db_.last_insert_id();
}

StoreStatus ShopStore::end_job(JobId job, TimePoint when, const std::string& result,
                               const std::vector<JobScale>& scales) {
    auto t = sql::Transaction::begin(db_);
    if (!t) return failed<Done>("cannot write the store", t.error());
    auto update = db_.prepare("UPDATE jobs SET ended = ?2, result = ?3 WHERE id = ?1");
    if (!update) return failed<Done>("cannot write the store", update.error());
    update->bind(1, job).bind(2, store_time(when)).bind(3, result);
    if (auto done = update->step(); !done)
        return failed<Done>("cannot write the store", done.error());
    auto insert = db_.prepare("INSERT OR REPLACE INTO job_scales VALUES(?1, ?2, ?3, ?4, ?5)");
    if (!insert) return failed<Done>("cannot write the store", insert.error());
    for (const JobScale& s : scales) {
        insert->reset();
        insert->bind(1, job).bind(2, s.scale.text()).bind(3, s.state);
        insert->bind(4, static_cast<std::int64_t>(s.done))
            .bind(5, static_cast<std::int64_t>(s.total));
        if (auto done = insert->step(); !done)
            return failed<Done>("cannot write the store", done.error());
    }
    if (auto done = t->commit(); !done) return failed<Done>("cannot write the store", done.error());
    ++commits_;
    return Done{};
}

StoreStatus ShopStore::commit(const StoreBatch& batch, JobId job, TimePoint when) {
    if (batch.empty()) return Done{};
    const auto fail = [](const std::string& why) {
        return failed<Done>("cannot write the store", why);
    };
    auto t = sql::Transaction::begin(db_);
    if (!t) return fail(t.error());
    const std::string time = store_time(when);
    auto current = db_.prepare("SELECT body, pending FROM known WHERE scale = ?1 AND plu = ?2");
    auto mark = db_.prepare(
        "INSERT INTO known(scale, plu, body, pending, job, since) VALUES(?1, ?2, NULL, 1, ?3, ?4) "
        "ON CONFLICT(scale, plu) DO UPDATE SET pending = 1, job = ?3, since = ?4");
    auto set = db_.prepare(
        "INSERT INTO known(scale, plu, body, pending, job, since) VALUES(?1, ?2, ?3, 0, ?4, ?5) "
        "ON CONFLICT(scale, plu) DO UPDATE SET body = ?3, pending = 0, job = ?4, since = ?5");
    auto change = db_.prepare(
        "INSERT INTO changes(time, scale, plu, old_body, new_body, cause, job) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    auto contact = db_.prepare(
        "INSERT INTO contacts(scale, last) VALUES(?1, ?2) "
        "ON CONFLICT(scale) DO UPDATE SET last = ?2");
    for (auto* s : {&current, &mark, &set, &change, &contact})
        if (!*s) return fail(s->error());
    for (const StoreBatch::Entry& e : batch.entries_) {
        const std::string scale = e.scale.text();
        const auto plu = static_cast<std::int64_t>(e.plu);
        if (e.kind == StoreBatch::Entry::Kind::sending) {
            mark->reset();
            mark->bind(1, scale).bind(2, plu).bind(3, job).bind(4, time);
            if (auto done = mark->step(); !done) return fail(done.error());
            continue;
        }
        auto id = body_id(e.record);
        if (!id) return fail(id.error());
        current->reset();
        current->bind(1, scale).bind(2, plu);
        auto row = current->step();
        if (!row) return fail(row.error());
        const bool had = *row && !current->is_null(0);
        const std::int64_t old = had ? current->integer(0) : 0;
        const bool pending = *row && current->integer(1) != 0;
        // A store changes what it finds; a read tells of a change only against a record the
        // store was sure of (a pending send may or may not have been carried out).
        const bool changed = e.kind == StoreBatch::Entry::Kind::confirmed
                                 ? (!had || old != *id)
                                 : (had && !pending && old != *id);
        if (changed) {
            change->reset();
            change->bind(1, time).bind(2, scale).bind(3, plu);
            if (had) {
                change->bind(4, old);
            } else {
                change->bind_null(4);
            }
            change->bind(5, *id)
                .bind(6, cause_name(e.kind == StoreBatch::Entry::Kind::read ? ChangeCause::found
                                                                            : e.cause))
                .bind(7, job);
            if (auto done = change->step(); !done) return fail(done.error());
        }
        set->reset();
        set->bind(1, scale).bind(2, plu).bind(3, *id).bind(4, job).bind(5, time);
        if (auto done = set->step(); !done) return fail(done.error());
    }
    for (const ScaleAddress& s : batch.contacts_) {
        contact->reset();
        contact->bind(1, s.text()).bind(2, time);
        if (auto done = contact->step(); !done) return fail(done.error());
    }
    if (auto done = t->commit(); !done) {
        body_ids_.clear();  // what the rolled-back transaction added is gone
        return fail(done.error());
    }
    ++commits_;
    return Done{};
}

Result<KnownState, std::string> ShopStore::known(const ScaleAddress& scale) {
    const auto fail = [](const std::string& why) {
        return failed<KnownState>("cannot read the store", why);
    };
    KnownState state;
    auto rows = db_.prepare(
        "SELECT k.plu, k.pending, b.bytes FROM known k LEFT JOIN bodies b ON b.id = k.body "
        "WHERE k.scale = ?1");
    if (!rows) return fail(rows.error());
    rows->bind(1, scale.text());
    for (;;) {
        auto row = rows->step();
        if (!row) return fail(row.error());
        if (!*row) break;
        const auto plu = static_cast<std::uint32_t>(rows->integer(0));
        const auto bytes = rows->blob(2);
        if (rows->integer(1) != 0 || bytes.size() != stored_record_length) {
            state.records[plu] = std::nullopt;
            continue;
        }
        StoredRecord r;
        std::copy(bytes.begin(), bytes.end(), r.begin());
        state.records[plu] = r;
    }
    auto times = db_.prepare(
        "SELECT (SELECT max(taken) FROM snapshots WHERE scale = ?1), "
        "(SELECT max(time) FROM changes WHERE scale = ?1 AND cause != 'found')");
    if (!times) return fail(times.error());
    times->bind(1, scale.text());
    if (auto row = times->step(); !row) return fail(row.error());
    if (!times->is_null(0)) state.latest_backup = parse_store_time(times->text(0));
    if (!times->is_null(1)) {
        const auto t = parse_store_time(times->text(1));
        if (t && (!state.latest_backup || *t >= *state.latest_backup)) state.latest_change = t;
    }
    return state;
}

Result<std::int64_t, std::string> ShopStore::add_snapshot(
    const ScaleAddress& scale, JobId job, TimePoint when,
    const std::map<std::uint32_t, StoredRecord>& records, const std::string& file) {
    const auto fail = [](const std::string& why) {
        return failed<std::int64_t>("cannot write the store", why);
    };
    auto t = sql::Transaction::begin(db_);
    if (!t) return fail(t.error());
    std::vector<std::uint8_t> contents;
    contents.reserve(records.size() * 4);
    std::uint32_t previous = 0;
    std::size_t named_count = 0;
    for (const auto& [plu, record] : records) {
        auto id = body_id(record);
        if (!id) return fail(id.error());
        put_varint(contents, plu - previous);
        put_varint(contents, static_cast<std::uint64_t>(*id));
        previous = plu;
        named_count += named(record) ? 1 : 0;
    }
    auto insert = db_.prepare(
        "INSERT INTO snapshots(scale, job, taken, records, named, file, contents) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!insert) return fail(insert.error());
    insert->bind(1, scale.text()).bind(2, job).bind(3, store_time(when));
    insert->bind(4, static_cast<std::int64_t>(records.size()));
    insert->bind(5, static_cast<std::int64_t>(named_count)).bind(6, file).bind(7, contents);
    if (auto done = insert->step(); !done) return fail(done.error());
    const std::int64_t id = db_.last_insert_id();
    if (auto done = t->commit(); !done) {
        body_ids_.clear();
        return fail(done.error());
    }
    ++commits_;
    return id;
}

Result<std::vector<SnapshotInfo>, std::string> ShopStore::snapshots(const ScaleAddress& scale) {
    const auto fail = [](const std::string& why) {
        return failed<std::vector<SnapshotInfo>>("cannot read the store", why);
    };
    auto rows = db_.prepare(
        "SELECT id, taken, job, records, named, file FROM snapshots WHERE scale = ?1 "
        "ORDER BY taken DESC, id DESC");
    if (!rows) return fail(rows.error());
    rows->bind(1, scale.text());
    std::vector<SnapshotInfo> list;
    for (;;) {
        auto row = rows->step();
        if (!row) return fail(row.error());
        if (!*row) break;
        list.push_back({rows->integer(0), scale,
                        parse_store_time(rows->text(1)).value_or(TimePoint{}), rows->integer(2),
                        static_cast<std::size_t>(rows->integer(3)),
                        static_cast<std::size_t>(rows->integer(4)), rows->text(5)});
    }
    return list;
}

Result<Snapshot, std::string> ShopStore::snapshot(std::int64_t id) {
    const auto fail = [](const std::string& why) {
        return failed<Snapshot>("cannot read the store", why);
    };
    auto row = db_.prepare(
        "SELECT scale, taken, job, records, named, file, contents FROM snapshots WHERE id = ?1");
    if (!row) return fail(row.error());
    row->bind(1, id);
    auto got = row->step();
    if (!got) return fail(got.error());
    if (!*got) return fail(fmt::format("no snapshot {}", id));
    const auto scale = scale_of(row->text(0));
    if (!scale) return fail(fmt::format("snapshot {} names no scale", id));
    Snapshot s{{id, *scale, parse_store_time(row->text(1)).value_or(TimePoint{}), row->integer(2),
                static_cast<std::size_t>(row->integer(3)),
                static_cast<std::size_t>(row->integer(4)), row->text(5)}};
    const auto contents = row->blob(6);
    std::map<std::int64_t, StoredRecord> bodies;
    std::uint32_t plu = 0;
    for (std::size_t at = 0; at < contents.size();) {
        const auto step = get_varint(contents, at);
        const auto body_id_value = get_varint(contents, at);
        if (!step || !body_id_value) return fail(fmt::format("snapshot {} is damaged", id));
        plu += static_cast<std::uint32_t>(*step);
        const auto key = static_cast<std::int64_t>(*body_id_value);
        auto it = bodies.find(key);
        if (it == bodies.end()) {
            auto b = body(key);
            if (!b) return fail(b.error());
            it = bodies.emplace(key, *b).first;
        }
        s.records[plu] = it->second;
    }
    return s;
}

Result<std::vector<ChangeRow>, std::string> ShopStore::history(const HistoryFilter& filter) {
    const auto fail = [](const std::string& why) {
        return failed<std::vector<ChangeRow>>("cannot read the store", why);
    };
    std::string sql =
        "SELECT c.time, c.scale, c.plu, ob.bytes, nb.bytes, c.cause, c.job, j.kind FROM changes c "
        "LEFT JOIN bodies ob ON ob.id = c.old_body LEFT JOIN bodies nb ON nb.id = c.new_body "
        "LEFT JOIN jobs j ON j.id = c.job WHERE 1";
    if (!filter.scales.empty()) {
        sql += " AND c.scale IN (";
        for (std::size_t i = 0; i < filter.scales.size(); ++i)
            sql += fmt::format("{}'{}'", i ? "," : "", filter.scales[i].text());
        sql += ")";
    }
    if (!filter.plus.empty()) {
        sql += fmt::format(" AND c.plu IN ({})", fmt::join(filter.plus, ","));
    }
    if (filter.since) sql += " AND c.time >= ?1";
    sql += " ORDER BY c.time, c.id";
    auto rows = db_.prepare(sql);
    if (!rows) return fail(rows.error());
    if (filter.since) rows->bind(1, store_time(*filter.since));
    std::vector<ChangeRow> list;
    const auto record = [&](int column) -> std::optional<StoredRecord> {
        const auto bytes = rows->blob(column);
        if (rows->is_null(column) || bytes.size() != stored_record_length) return std::nullopt;
        StoredRecord r;
        std::copy(bytes.begin(), bytes.end(), r.begin());
        return r;
    };
    for (;;) {
        auto row = rows->step();
        if (!row) return fail(row.error());
        if (!*row) break;
        const auto scale = scale_of(rows->text(1));
        if (!scale) continue;
        const std::string cause = rows->text(5);
        list.push_back({parse_store_time(rows->text(0)).value_or(TimePoint{}), *scale,
                        static_cast<std::uint32_t>(rows->integer(2)), record(3), record(4),
                        cause == "found"     ? ChangeCause::found
                        : cause == "restore" ? ChangeCause::restore
                                             : ChangeCause::load,
                        rows->integer(6), rows->text(7)});
    }
    return list;
}

Result<std::vector<JobRow>, std::string> ShopStore::jobs_changing(const ScaleAddress& scale,
                                                                  TimePoint after) {
    const auto fail = [](const std::string& why) {
        return failed<std::vector<JobRow>>("cannot read the store", why);
    };
    auto rows = db_.prepare(fmt::format(
        "SELECT DISTINCT {} FROM changes c JOIN jobs j ON j.id = c.job WHERE c.scale = ?1 AND "
        "c.time > ?2 AND c.cause IN ('load', 'restore') ORDER BY j.id",
        job_columns));
    if (!rows) return fail(rows.error());
    rows->bind(1, scale.text()).bind(2, store_time(after));
    return job_rows(*rows);
}

Result<std::vector<JobRow>, std::string> ShopStore::recent_jobs(std::size_t count) {
    const auto fail = [](const std::string& why) {
        return failed<std::vector<JobRow>>("cannot read the store", why);
    };
    auto rows =
        db_.prepare(fmt::format("SELECT {} FROM jobs j ORDER BY j.id DESC LIMIT ?1", job_columns));
    if (!rows) return fail(rows.error());
    rows->bind(1, static_cast<std::int64_t>(count));
    return job_rows(*rows);
}

Result<ScaleStatus, std::string> ShopStore::status(const ScaleAddress& scale) {
    const auto fail = [](const std::string& why) {
        return failed<ScaleStatus>("cannot read the store", why);
    };
    ScaleStatus s{scale};
    auto contact = db_.prepare("SELECT last FROM contacts WHERE scale = ?1");
    if (!contact) return fail(contact.error());
    contact->bind(1, scale.text());
    auto row = contact->step();
    if (!row) return fail(row.error());
    if (*row) s.last_contact = parse_store_time(contact->text(0));
    auto snaps = snapshots(scale);
    if (!snaps) return unexpected(snaps.error());
    if (!snaps->empty()) s.last_backup = snaps->front();
    auto counts = db_.prepare(
        "SELECT sum(pending = 0 AND body IS NOT NULL), sum(pending != 0 OR body IS NULL) FROM "
        "known WHERE scale = ?1");
    if (!counts) return fail(counts.error());
    counts->bind(1, scale.text());
    if (auto r = counts->step(); !r) return fail(r.error());
    s.known = static_cast<std::size_t>(counts->integer(0));
    s.unknown = static_cast<std::size_t>(counts->integer(1));
    auto load = db_.prepare(fmt::format(
        "SELECT {} FROM job_scales js JOIN jobs j ON j.id = js.job WHERE js.scale = ?1 AND "
        "j.kind IN ('load', 'restore') ORDER BY j.id DESC LIMIT 1",
        job_columns));
    if (!load) return fail(load.error());
    load->bind(1, scale.text());
    auto l = load->step();
    if (!l) return fail(l.error());
    if (*l) s.last_load = job_row(*load, 0);
    if (s.last_backup) {
        auto found = db_.prepare(
            "SELECT count(*) FROM changes WHERE scale = ?1 AND job = ?2 AND cause = 'found'");
        if (!found) return fail(found.error());
        found->bind(1, scale.text()).bind(2, s.last_backup->job);
        if (auto r = found->step(); !r) return fail(r.error());
        s.found_by_last_backup = static_cast<std::size_t>(found->integer(0));
    }
    return s;
}

}  // namespace ktnet
