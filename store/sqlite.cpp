#include "store/sqlite.hpp"

#include <sqlite3.h>

#include <utility>

namespace ktnet::sql {

namespace {

constexpr int busy_timeout_ms = 10'000;

std::string why(sqlite3* db, int code) {
    return db ? std::string(sqlite3_errmsg(db)) : std::string(sqlite3_errstr(code));
}

}  // namespace

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(statement_);
        db_ = other.db_;
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

Statement& Statement::bind(int index, std::span<const std::uint8_t> blob) {
    // An empty blob is a blob, not NULL.
    static const std::uint8_t none = 0;
    sqlite3_bind_blob64(statement_, index, blob.empty() ? &none : blob.data(), blob.size(),
                        SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind_null(int index) {
    sqlite3_bind_null(statement_, index);
    return *this;
}

Result<bool, std::string> Statement::step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return unexpected(why(db_, rc));
}

void Statement::reset() {
    sqlite3_reset(statement_);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(statement_, column);
    const int n = sqlite3_column_bytes(statement_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
             : std::string();
}

std::vector<std::uint8_t> Statement::blob(int column) const {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_, column));
    const int n = sqlite3_column_bytes(statement_, column);
    return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
}

bool Statement::is_null(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Result<Database, std::string> Database::open(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    sqlite3* db = nullptr;
    const auto name = path.u8string();
    const int rc =
        sqlite3_open_v2(reinterpret_cast<const char*>(name.c_str()), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    Database database(db);  // closes it on every failure below
    if (rc != SQLITE_OK) return unexpected(why(db, rc));
    sqlite3_busy_timeout(db, busy_timeout_ms);
    return database;
}

Database::Database(Database&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

Status Database::execute(std::string_view sql) {
    const std::string text(sql);
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return Done{};
    std::string reason = message ? message : why(db_, rc);
    sqlite3_free(message);
    return unexpected(std::move(reason));
}

Result<Statement, std::string> Database::prepare(std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    const int rc =
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_OK) return unexpected(why(db_, rc));
    return Statement(db_, statement);
}

std::int64_t Database::last_insert_id() const {
    return sqlite3_last_insert_rowid(db_);
}

std::string Database::library_version() {
    return sqlite3_libversion();
}

Result<Transaction, std::string> Transaction::begin(Database& db) {
    Transaction t(db);
    if (auto begun = db.execute("BEGIN IMMEDIATE"); !begun) return unexpected(begun.error());
    t.open_ = true;
    return t;
}

Transaction::Transaction(Transaction&& other) noexcept
    : db_(other.db_), open_(std::exchange(other.open_, false)) {}

Transaction::~Transaction() {
    if (open_) (void)db_->execute("ROLLBACK");
}

Status Transaction::commit() {
    auto done = db_->execute("COMMIT");
    if (done) open_ = false;
    return done;
}

}  // namespace ktnet::sql
