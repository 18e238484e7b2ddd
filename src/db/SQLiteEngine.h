// SQLiteEngine: a thin owner of one SQLite connection.
//
// Every statement the program sends is complete SQL text run through SQLite_exec; no result
// rows are read. A failing statement is reported on standard error and never stops the run,
// with one exception: when a statement fails inside a transaction and SQLite has rolled the
// whole transaction back (a full disk, an I/O error), statements sent after it would each run
// and commit on their own, leaving a partial set of rows. The engine then runs nothing more, in
// silence, and says that the transaction was lost. Opening and closing failures are reported on
// standard output and returned as 1.
//
// Another process that holds the database locked (a user reading it with sqlite3 while a run
// commits) is waited for, however long it takes, instead of failing the statement: the engine
// says once on standard error that it waits. A second run on the same new database is kept out
// by a lock of its own, held from the check that the database is empty to the end of the
// creation of the tables.
#pragma once

#include <sqlite3.h>

namespace tidewrack {

class SQLiteEngine {
  public:
    explicit SQLiteEngine(bool verbose);
    ~SQLiteEngine();
    SQLiteEngine(const SQLiteEngine&) = delete;
    SQLiteEngine& operator=(const SQLiteEngine&) = delete;

    // Opens (creating if absent) the database file; 0 on success, 1 after printing why not.
    int SQLite_open(const char* path);
    // Checks that the open database holds nothing yet (no table, view, index or trigger), so
    // that a run never mixes its rows with an earlier run's; 0 when empty, 1 after printing
    // why not. When it is empty, another run's check waits until SQLite_tablesCreated.
    int SQLite_checkEmpty(const char* path);
    // The tables of the run are created: a second run may check the database now.
    void SQLite_tablesCreated();
    // Finalizes what is left and closes; 0 on success (or when nothing is open), 1 on failure.
    int SQLite_close();
    // Runs one statement; returns 0 on success, otherwise SQLite's result code after printing
    // the error.
    int SQLite_exec(const char* sql);
    // True once a transaction was rolled back by SQLite after a failed statement; nothing has
    // been run since.
    bool transactionLost() const { return lost; }

    bool verbose;

    // Sets SQLite up for a process of one thread before its first use: no memory statistics,
    // no mutexes, the engine's own allocator (db/sqlite_allocator.h). True when SQLite took all
    // three. SQLite_open calls it; the benchmark's bare loops call it too, so as to use SQLite
    // as the program does.
    static bool configureLibrary();

  private:
    static int waitForLock(void* engine, int attempts);

    sqlite3* connection = nullptr;
    char* errorText = nullptr;
    bool lost = false;
    const char* name = nullptr;  // the database's path, as given
    int creationLock = -1;       // a descriptor of the database file, locked while tables are made
    int waitedMs = 0;            // for the lock now waited for
    bool waitReported = false;
};

}  // namespace tidewrack
