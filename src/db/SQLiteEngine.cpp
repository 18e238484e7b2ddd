// SQLiteEngine: opening, checking, closing the database and running statements.
//
// After a failed open the connection is gone, and SQLite_exec refuses to run anything on it:
// no statement is ever sent to a closed connection. Nor is one sent after a transaction was
// lost, which SQLite tells by being back in autocommit mode after the failure. Before the
// first open, SQLite is configured for the program's single thread.
#include "db/SQLiteEngine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

#include "db/sqlite_allocator.h"

namespace tidewrack {

SQLiteEngine::SQLiteEngine(bool verboseOutput) : verbose(verboseOutput) {
    if (verbose) {
        std::fputs("SQLiteEngine: initializing...\n", stdout);
    }
}

SQLiteEngine::~SQLiteEngine() {
    if (verbose) {
        std::fputs("SQLiteEngine: shutdown complete.\n", stdout);
    }
}

bool SQLiteEngine::configureLibrary() {
    // The program is one thread. By default SQLite counts every allocation in its memory
    // statistics and takes a mutex on every call, which costs about a fifth of a database run
    // (each row takes some forty allocations). SQLite takes these settings only before it
    // initialises: when another part of the process used it first, it refuses them and keeps
    // its defaults, which are only slower, and so does the program, without a word.
    static const bool configured =
        sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) == SQLITE_OK &&
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK &&
        sqlite3_config(SQLITE_CONFIG_MALLOC, singleThreadAllocator()) == SQLITE_OK;
    return configured;
}

int SQLiteEngine::SQLite_open(const char* path) {
    configureLibrary();
    if (sqlite3_open(path, &connection) != SQLITE_OK) {
        std::printf("SQLiteEngine: Can't open database: %s\n", sqlite3_errmsg(connection));
        sqlite3_close(connection);
        connection = nullptr;
        return 1;
    }
    name = path;
    sqlite3_busy_handler(connection, waitForLock, this);
    return 0;
}

int SQLiteEngine::waitForLock(void* engine, int attempts) {
    // Short waits first, for a reader that is about to finish; then a tenth of a second at a
    // time, for as long as the other process keeps its lock.
    constexpr int waitsMs[] = {1, 2, 5, 10, 20, 50};
    constexpr int reportAfterMs = 1000;
    auto& self = *static_cast<SQLiteEngine*>(engine);
    if (attempts == 0) {
        self.waitedMs = 0;
    }
    if (self.waitedMs >= reportAfterMs && !self.waitReported) {
        self.waitReported = true;
        std::fprintf(stderr,
                     "SQLiteEngine: database %s is locked by another process; waiting for it.\n",
                     self.name);
    }
    const int ms = attempts < static_cast<int>(std::size(waitsMs)) ? waitsMs[attempts] : 100;
    sqlite3_sleep(ms);
    self.waitedMs += ms;
    return 1;
}

int SQLiteEngine::SQLite_checkEmpty(const char* path) {
    // A second run started on the same new database at the same time would find it empty too,
    // and both would create their tables and write their rows into it. The file is locked (with
    // flock, which SQLite's own locks do not meet) from here to the end of the creation of the
    // tables; the second run's check then finds them and refuses. The descriptor stays open
    // until the database is closed: closing it would drop the locks SQLite holds on the file.
    creationLock = open(path, O_RDONLY | O_CLOEXEC);
    if (creationLock >= 0) {
        while (flock(creationLock, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    sqlite3_stmt* query = nullptr;
    int tables = -1;
    if (connection != nullptr &&
        sqlite3_prepare_v2(connection, "SELECT count(*) FROM sqlite_master", -1, &query, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
        tables = sqlite3_column_int(query, 0);
    }
    sqlite3_finalize(query);
    if (tables < 0) {
        std::printf("SQLiteEngine: Can't open database: %s\n",
                    connection != nullptr ? sqlite3_errmsg(connection) : "not open");
        return 1;
    }
    if (tables > 0) {
        std::printf("SQLiteEngine: database %s already holds tables; give a new file.\n", path);
        return 1;
    }
    return 0;
}

void SQLiteEngine::SQLite_tablesCreated() {
    if (creationLock >= 0) {
        flock(creationLock, LOCK_UN);
    }
}

int SQLiteEngine::SQLite_close() {
    if (connection == nullptr) {
        return 0;
    }
    if (lost) {
        // A rollback that failed half-way (the write that failed may fail again) leaves the
        // journal behind; the next read plays it back, so that the file holds what it held
        // before the transaction and read-only users can open it.
        sqlite3_exec(connection, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    while (sqlite3_stmt* pending = sqlite3_next_stmt(connection, nullptr)) {
        sqlite3_finalize(pending);
    }
    if (sqlite3_close(connection) != SQLITE_OK) {
        std::printf("SQLiteEngine: Couldn't close database: %s\n", sqlite3_errmsg(connection));
        return 1;
    }
    connection = nullptr;
    if (creationLock >= 0) {
        close(creationLock);
        creationLock = -1;
    }
    return 0;
}

int SQLiteEngine::SQLite_exec(const char* sql) {
    if (connection == nullptr) {
        return SQLITE_MISUSE;
    }
    if (lost) {
        return SQLITE_ABORT;
    }
    const bool inTransaction = sqlite3_get_autocommit(connection) == 0;
    const int result = sqlite3_exec(connection, sql, nullptr, nullptr, &errorText);
    if (result != SQLITE_OK) {
        std::fprintf(stderr, "SQL error: %s\n",
                     errorText != nullptr ? errorText : sqlite3_errstr(result));
        sqlite3_free(errorText);
        errorText = nullptr;
        lost = inTransaction && sqlite3_get_autocommit(connection) != 0;
    }
    return result;
}

}  // namespace tidewrack
