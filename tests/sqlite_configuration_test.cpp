// SQLite's process-wide settings made by the database engine before SQLite's first use: one
// thread without mutexes, no memory statistics; and the defaults kept, without a word, when
// SQLite was already in use. The settings last for the life of a process, so each case runs in
// a process of its own (a death test re-running this program for that case alone).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>

#include "db/SQLiteEngine.h"
#include "scratch_dir.h"

using namespace testkit;

namespace {

// Opens a database through the engine and runs one statement; the exit status says whether SQLite
// then counts its memory and whether a new connection has a mutex, as `expectDefaults` wants.
[[noreturn]] void openAndCheck(const std::string& path, bool expectDefaults) {
    tidewrack::SQLiteEngine engine(false);
    const bool ran = engine.SQLite_open(path.c_str()) == 0 &&
                     engine.SQLite_exec("create table t (a integer);") == 0;
    sqlite3_int64 used = 0, highest = 0;
    sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &used, &highest, 0);
    sqlite3* other = nullptr;
    const bool locked =
        sqlite3_open(path.c_str(), &other) == SQLITE_OK && sqlite3_db_mutex(other) != nullptr;
    sqlite3_close(other);
    engine.SQLite_close();
    std::exit(ran && (used > 0) == expectDefaults && locked == expectDefaults ? 0 : 1);
}

}  // namespace

TEST(SQLiteConfiguration, OneThreadWithoutMemoryStatistics) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    EXPECT_EXIT(openAndCheck(dir.path("a.db"), false), ::testing::ExitedWithCode(0), "^$");
}

TEST(SQLiteConfiguration, DefaultsKeptSilentlyWhenSQLiteIsAlreadyInUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    EXPECT_EXIT(
        {
            sqlite3_initialize();
            openAndCheck(dir.path("a.db"), true);
        },
        ::testing::ExitedWithCode(0), "^$");
}
