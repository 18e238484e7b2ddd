// SQLite's process-wide settings made by the database engine before SQLite's first use: one
// thread without mutexes, no memory statistics, the engine's own allocator; and the defaults
// kept, without a word, when SQLite was already in use. The allocator itself is checked
// directly. The settings last for the life of a process, so each case runs in
// a process of its own (a death test re-running this program for that case alone).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "db/SQLiteEngine.h"
#include "db/sqlite_allocator.h"
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
    // The engine's allocator hands out blocks in steps of 16 bytes.
    void* one = sqlite3_malloc(1);
    const bool ownAllocator = sqlite3_msize(one) == 16;
    sqlite3_free(one);
    sqlite3* other = nullptr;
    const bool locked =
        sqlite3_open(path.c_str(), &other) == SQLITE_OK && sqlite3_db_mutex(other) != nullptr;
    sqlite3_close(other);
    engine.SQLite_close();
    // The process ends here, before its scratch directory's destructor could remove it.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ignored);
    std::exit(ran && (used > 0) == expectDefaults && locked == expectDefaults &&
                      ownAllocator != expectDefaults
                  ? 0
                  : 1);
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

// Blocks keep what was written into them across a resize, are aligned as malloc's, report their
// usable size, and small ones come back from their free list.
TEST(SQLiteConfiguration, AllocatorKeepsContentsAndRecyclesSmallBlocks) {
    const sqlite3_mem_methods& m = *tidewrack::singleThreadAllocator();
    EXPECT_EQ(m.xRoundup(1), 16);
    EXPECT_EQ(m.xRoundup(1000), 1008);
    for (int size : {1, 16, 100, 1024, 1025, 5000}) {
        SCOPED_TRACE(size);
        auto* block = static_cast<unsigned char*>(m.xMalloc(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
        EXPECT_GE(m.xSize(block), size);
        std::memset(block, 0xA5, static_cast<std::size_t>(size));
        for (int resized : {size / 2 + 1, size * 3}) {
            block = static_cast<unsigned char*>(m.xRealloc(block, resized));
            ASSERT_GE(m.xSize(block), resized);
            const int kept = std::min(size, resized);
            EXPECT_EQ(std::count(block, block + kept, 0xA5), kept);
            std::memset(block, 0xA5, static_cast<std::size_t>(resized));
            size = resized;
        }
        m.xFree(block);
    }
    void* small = m.xMalloc(40);
    m.xFree(small);
    void* again = m.xMalloc(33);
    EXPECT_EQ(again, small);  // the same class: the block freed last
    m.xFree(again);
    EXPECT_EQ(m.xMalloc(0), nullptr);
}
