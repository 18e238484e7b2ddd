// A database that tidewrack wrote, opened read-only, and the one pass that reads its frames.
//
// Opening checks what the report needs before SQLite is asked for anything: the path names a
// regular file (so that no file is ever created), SQLite reads it as a database, and it holds
// tidewrack's frames table with the columns the report reads. Each refusal is a ReportError
// naming the path. The mode is 1 when the database has the IPPROTO table that a full analysis
// writes, 2 otherwise.
//
// The file may have been made by anyone, so it is opened as SQLite advises for such files, and
// the frames table is read only when it is an ordinary table of plain columns: a view, a
// virtual table or a generated column would run the file author's code on every read. Nothing
// is made beside it either: a WAL-mode database is read without its log unless a writer left
// the log with its index, and a log without its index is refused, as is a database left with a
// hot journal (a writer stopped in a transaction), each with the way to recover it.
//
// The frames are read in stored order, which is capture order, by one prepared statement that
// selects only the columns the report counts by; times are placed on the database's own line of
// days as they come, and every frame goes straight into the tally.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "report/progress.h"
#include "report/time_of_day.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

class TrafficDatabase {
  public:
    explicit TrafficDatabase(const std::string& path);

    // Refuses a path that names no regular file, without SQLite: a cheap look at every path
    // before any database is read.
    static void checkFile(const std::string& path);

    int mode() const { return analysisMode; }

    // Reads every frame into `tally`, as database `number` of `count`. A read that fails midway
    // is a ReportError.
    void read(TrafficTally& tally, Progress& progress, std::size_t number, std::size_t count);

  private:
    // The highest row number of the frames table: the number of frames, for progress.
    std::int64_t frameEstimate();
    // The name to open the path by, without a file made beside it (the path itself, or an
    // immutable URI for a WAL-mode database without its log); refuses a log left without its
    // index.
    std::string sqliteName() const;
    // Refuses a frames table that is missing or not an ordinary table of plain columns.
    void checkFrames();
    // The first column of the first row of `sql` as text, or nothing when it has no row.
    std::optional<std::string> firstValue(const char* sql);
    [[noreturn]] void fail(const std::string& what) const;

    struct Close {
        void operator()(sqlite3* connection) const { sqlite3_close(connection); }
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };

    std::string path;
    std::unique_ptr<sqlite3, Close> db;
    std::unique_ptr<sqlite3_stmt, Close> frames;
    int analysisMode = 2;
    DayLine days;
};

}  // namespace tidewrack::report
