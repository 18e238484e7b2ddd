// A database that tidewrack wrote, opened read-only, what it says of its dates, and the one pass
// that reads its frames.
//
// Opening checks what the report needs before SQLite is asked for anything: the path names a
// regular file (so that no file is ever created), SQLite reads it as a database, and it holds
// tidewrack's frames table with the columns the report reads, and the extended record's tables
// (FRAMES6, CAPTURE, DAYS, NOT_ANALYSED, VLANS, CONNECTIONS, SECONDS) with theirs where it has
// them; NAMES and CONNECTIONS, whose names name_reader.cpp reads, are checked to be ordinary
// tables too. A database of flows only (tidewrack -x -m 3) has no frames table but CAPTURE,
// CONNECTIONS and SECONDS. Each refusal is a ReportError naming the path. The mode is 3 for a
// database of flows only, 1 when the database has the IPPROTO table that a full analysis
// writes, 2 otherwise. A database with CAPTURE and DAYS records dates (it was
// made with tidewrack -x); one without is classic: IPv4 only, times of day only.
//
// The file may have been made by anyone, so it is opened as SQLite advises for such files, and
// a table is read only when it is an ordinary table of plain columns: a view, a virtual table
// or a generated column would run the file author's code on every read. Nothing
// is made beside it either: a WAL-mode database is read without its log unless a writer left
// the log with its index, and a log without its index is refused, as is a database left with a
// hot journal (a writer stopped in a transaction), each with the way to recover it.
//
// The frames are read in stored order, which is capture order, by a prepared statement that
// selects only the columns the report counts by; FRAMES6, when there is one, is read beside
// FRAMES and the two merged by frame number, so that every analysed frame comes in capture
// order. Times are placed on the report's axis as they come (frame_clock.h), and every frame
// goes straight into the tally, its IPv6 addresses read from their text without allocating.
// The counts the extended record states beside the frames are bounded as a wire length is: a
// negative one is none, and the frames not analysed, or tagged, are at most those delivered.
// A database with CONNECTIONS and SECONDS may be read from them instead (readsRecords says
// when, record_reader.cpp and record_tally.cpp how): its frames are then read for their ICMP
// messages and errors only.
// The read error that the capture ended in (CAPTURE.read_error, libpcap's text; NULL when it
// ended cleanly, and missing from databases made before it) is read whatever the filter.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "report/address_names.h"
#include "report/frame_filter.h"
#include "report/progress.h"
#include "report/time_axis.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

class DatabaseReader {
  public:
    explicit DatabaseReader(const std::string& path);

    // Refuses a path that names no regular file, without SQLite: a cheap look at every path
    // before any database is read.
    static void checkFile(const std::string& path);

    int mode() const { return analysisMode; }

    // Whether read() takes the database's connection record and traffic by second instead of
    // its frames, on `axis` with `filter`: a database of flows only always; one with frames
    // besides when its run ended (CAPTURE has its row), the axis is dated and the filter (if any)
    // asks for protocols or Community IDs only, so that the record gives what the frames would,
    // unless TIDEWRACK_REPORT_FRAMES is set (to anything but empty or 0).
    bool readsRecords(const TimeAxis& axis, const FrameFilter* filter) const;
    // Whether it holds a row per frame.
    bool holdsFrames() const { return hasFrames; }

    // What the database says of its dates: read before any database's frames, so that the
    // report chooses its time axis first.
    DatabaseDates dates();

    // Reads every frame into `tally`, as database `number` of `count`, with its times on
    // `axis`, and the counts of the frames not analysed and of the VLANs; with a filter, only
    // the frames that pass it, and no counts that it cannot look at. A read that fails midway
    // is a ReportError.
    void read(TrafficTally& tally, Progress& progress, std::size_t number, std::size_t count,
              const TimeAxis& axis, FrameFilter* filter = nullptr);

    // The names of NAMES and the server names of CONNECTIONS, when it has them with the columns
    // they are read by, into `names` (name_reader.cpp). A database without them gives none.
    void readNames(AddressNames& names);

  private:
    // Reads the frames of FRAMES and FRAMES6 that `f` and `f6` (or null) select, into `tally`:
    // each one whole, or only its ICMP messages and errors when `icmpOnly`.
    void readFrames(TrafficTally& tally, Progress& progress, const TimeAxis& axis,
                    FrameFilter* filter, sqlite3_stmt* f, sqlite3_stmt* f6, bool icmpOnly);
    // The connections and the seconds, and the ICMP frames when it has frames
    // (record_reader.cpp).
    void readRecords(TrafficTally& tally, const TimeAxis& axis, FrameFilter* filter);
    // The dates of a database without DAYS: of its first second and CAPTURE's UTC offset.
    DatabaseDates secondsDates();
    // CAPTURE's UTC offset in seconds, when it states a plausible one.
    std::optional<std::int64_t> captureOffset();
    // CAPTURE's frames delivered, and the read error its capture ended in, if any, into
    // `tally`: the database's own figures, whatever the filter.
    void readCapture(TrafficTally& tally);
    // The frames not analysed by kind and tagged by VLAN, into `tally`.
    void readCounts(TrafficTally& tally);
    // The highest row number of the frames table: the number of frames, for progress.
    std::int64_t frameEstimate();
    // The name to open the path by, without a file made beside it (the path itself, or an
    // immutable URI for a WAL-mode database without its log); refuses a log left without its
    // index.
    std::string sqliteName() const;
    // Finds which of the tables the report reads the database has, in one look at its schema;
    // refuses one that is not an ordinary table of plain columns, and a missing frames table.
    void checkTables();
    // A statement of `sql`, which the database's own tables must answer.
    sqlite3_stmt* prepare(const std::string& sql, const char* table);
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
    std::unique_ptr<sqlite3_stmt, Close> frames6;  // null without FRAMES6
    int analysisMode = 2;
    std::int64_t delivered = -1;  // CAPTURE.frames_delivered, -1 when it does not say
    bool hasFrames = false, hasFrames6 = false, hasCapture = false, hasDays = false,
         hasNotAnalysed = false, hasVlans = false, hasConnections = false, hasSeconds = false,
         hasNames = false;
    bool runEnded = false;  // CAPTURE has its row, written when the run ended
};

}  // namespace tidewrack::report
