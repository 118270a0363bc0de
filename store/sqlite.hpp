// A thin RAII wrapper of SQLite's C interface: a database, its prepared statements and a
// transaction, each failure a result with SQLite's own words. Only what the shop's store needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace ktnet::sql {

using Status = Result<Done, std::string>;

class Statement {
public:
    Statement(Statement&&) noexcept;
    Statement& operator=(Statement&&) noexcept;
    ~Statement();

    // Parameters counted from 1, as SQLite counts them.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::span<const std::uint8_t> blob);
    Statement& bind_null(int index);

    // The next row: true when there is one, false when the statement is done.
    [[nodiscard]] Result<bool, std::string> step();
    // Done with this run; the bindings stay.
    void reset();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<std::uint8_t> blob(int column) const;
    bool is_null(int column) const;

private:
    friend class Database;
    Statement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

class Database {
public:
    // Opens the file (created if missing, with its folder), with a busy time-out so that a
    // second program waits for a writer instead of failing at once.
    [[nodiscard]] static Result<Database, std::string> open(const std::filesystem::path& path);

    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;
    ~Database();

    // Statements without results, one or several.
    [[nodiscard]] Status execute(std::string_view sql);
    [[nodiscard]] Result<Statement, std::string> prepare(std::string_view sql);
    std::int64_t last_insert_id() const;
    // The SQLite that runs, not the one compiled against.
    static std::string library_version();

private:
    explicit Database(sqlite3* db) : db_(db) {}
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when it ends without commit().
class Transaction {
public:
    [[nodiscard]] static Result<Transaction, std::string> begin(Database& db);
    Transaction(Transaction&&) noexcept;
    Transaction& operator=(Transaction&&) = delete;
    ~Transaction();
    [[nodiscard]] Status commit();

private:
    explicit Transaction(Database& db) : db_(&db) {}
    Database* db_ = nullptr;
    bool open_ = false;
};

}  // namespace ktnet::sql
