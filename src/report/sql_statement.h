// A prepared statement of the tally's store, finalized with its owner, with the binds and reads
// the report makes. A statement that fails is a ReportError naming the store and SQLite's reason
// (a full disk where the store keeps its file, for one).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace tidewrack::report {

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);

    Statement& bind(int parameter, std::int64_t value);
    Statement& bindNull(int parameter);
    Statement& bindText(int parameter, std::string_view text);
    Statement& bindBlob(int parameter, const void* bytes, int size);

    // The next row: true when there is one, false after the last.
    bool step();
    // Ready to run again, with the same bindings.
    void reset();
    // Runs a statement that returns no rows, and makes it ready to run again.
    void run();

    // The values of a row: how many, the name of each (as its AS clause gives it), and the
    // place of the one of `name` (a std::logic_error when none has it: the statement is wrong).
    int columnCount() const;
    std::string_view columnName(int column) const;
    int column(std::string_view name) const;

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    std::string_view text(int column) const;  // the bytes of a text or a blob

  private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    [[noreturn]] void fail() const;

    sqlite3* db;
    std::unique_ptr<sqlite3_stmt, Finalize> statement;
};

}  // namespace tidewrack::report
