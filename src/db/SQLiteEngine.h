// SQLiteEngine: a thin owner of one SQLite connection.
//
// Every statement the program sends is complete SQL text run through SQLite_exec; no result
// rows are read. A failing statement is reported on standard error and never stops the run.
// Opening and closing failures are reported on standard output and returned as 1.
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
    // Checks that the open database holds no table yet, so that a run never mixes its rows
    // with an earlier run's; 0 when empty, 1 after printing why not.
    int SQLite_checkEmpty(const char* path);
    // Finalizes what is left and closes; 0 on success (or when nothing is open), 1 on failure.
    int SQLite_close();
    // Runs one statement; returns 0 on success, otherwise SQLite's result code after printing
    // the error.
    int SQLite_exec(const char* sql);

    bool verbose;

  private:
    // Sets SQLite up for a process of one thread before its first use: no memory statistics,
    // no mutexes. True when SQLite took both settings.
    static bool configureLibrary();

    sqlite3* connection = nullptr;
    char* errorText = nullptr;
};

}  // namespace tidewrack
