// Opening and checking tidewrack's databases, and reading their frames.
#include "report/database_reader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "report/frame_clock.h"
#include "report/report_error.h"
#include "vocabulary/tcp_flags.h"

namespace tidewrack::report {

namespace {

// The longest text, blob or row SQLite may make for the report, in bytes: as SQLite advises for
// files of unknown origin, a million, where tidewrack's texts hold a few dozen bytes.
constexpr int maxLength = 1000000;

constexpr const char* notTidewracks = ": not a database written by tidewrack";

constexpr const char* selectFrames =
    "SELECT frame, sIP1, sIP2, sIP3, sIP4, sPort, dIP1, dIP2, dIP3, dIP4, dPort, ipproto, flags, "
    "time, len FROM frames";
constexpr const char* selectFrames6 =
    "SELECT frame, sIP, sPort, dIP, dPort, ipproto, flags, time, len FROM frames6";

IpAddress address(sqlite3_stmt* row, int first) {
    std::uint32_t value = 0;
    for (int i = first; i < first + 4; ++i) {
        value = value << 8 | (static_cast<std::uint32_t>(sqlite3_column_int(row, i)) & 0xFFu);
    }
    return IpAddress::v4(value);
}

// An IPv6 address of FRAMES6's text; a text that is no IPv6 address counts as "::".
IpAddress address6(sqlite3_stmt* row, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    unsigned char bytes[16] = {};
    if (text == nullptr || inet_pton(AF_INET6, text, bytes) != 1) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
    }
    return IpAddress::v6(bytes);
}

std::string_view text(sqlite3_stmt* row, int column) {
    // The value looked up once for its text and its length: each sqlite3_column_* call looks it
    // up again and checks for an allocation failure.
    sqlite3_value* value = sqlite3_column_value(row, column);
    const auto* characters = reinterpret_cast<const char*>(sqlite3_value_text(value));
    const int length = sqlite3_value_bytes(value);
    return characters == nullptr ? std::string_view() : std::string_view(characters, length);
}

// `path` as the path of an SQLite URI: every byte but letters, digits, "-._~" and inner
// slashes percent-encoded (a leading slash too, which would otherwise start an authority).
std::string uriPath(const std::string& path) {
    std::string encoded;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("-._~", c) != nullptr || (c == '/' && i > 0)) {
            encoded += static_cast<char>(c);
        } else {
            constexpr char hex[] = "0123456789ABCDEF";
            encoded += {'%', hex[c >> 4], hex[c & 0xF]};
        }
    }
    return encoded;
}

// The flags of a text such as "SYN ACK ": each name is known by its first letter.
std::uint8_t tcpFlags(std::string_view names) {
    std::uint8_t flags = 0;
    bool wordStart = true;
    for (const char c : names) {
        if (c == ' ') {
            wordStart = true;
            continue;
        }
        if (wordStart) {
            switch (c) {
            case 'F': flags |= TcpFin; break;
            case 'S': flags |= TcpSyn; break;
            case 'R': flags |= TcpRst; break;
            case 'P': flags |= TcpPsh; break;
            case 'A': flags |= TcpAck; break;
            case 'U': flags |= TcpUrg; break;
            case 'E': flags |= TcpEce; break;
            case 'C': flags |= TcpCwr; break;
            default: break;
            }
        }
        wordStart = false;
    }
    return flags;
}

}  // namespace

void DatabaseReader::checkFile(const std::string& path) {
    // SQLite opens a missing path read-only without complaint until the first read, and other
    // open modes would create it; the file system is asked first.
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
        throw ReportError(path + ": " + (errno == ENOENT ? "no such file" : std::strerror(errno)));
    }
    if (!S_ISREG(file.st_mode)) {
        throw ReportError(path + ": " +
                          (S_ISDIR(file.st_mode) ? "is a directory" : "not a regular file"));
    }
}

DatabaseReader::DatabaseReader(const std::string& databasePath) : path(databasePath) {
    checkFile(path);
    const std::string name = sqliteName();
    sqlite3* connection = nullptr;
    // One thread uses the connection, so it goes without its mutex, which each column read
    // would otherwise take and release.
    const int opened = sqlite3_open_v2(
        name.c_str(), &connection,
        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | (name == path ? 0 : SQLITE_OPEN_URI), nullptr);
    db.reset(connection);
    if (opened != SQLITE_OK) {
        fail(std::string("cannot open: ") + sqlite3_errmsg(db.get()));
    }
    sqlite3_busy_timeout(db.get(), 5000);
    // The file may have been made by anyone: SQLite's settings for such files. Nothing in it
    // may change it, functions in its schema run only when they are harmless, and no text,
    // blob or row made while reading it exceeds maxLength.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, static_cast<int*>(nullptr));
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, static_cast<int*>(nullptr));
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, maxLength);
    // The first read of the file, where SQLite finds out what it is (firstValue says why it
    // cannot be read), then its tables.
    firstValue("SELECT 1 FROM sqlite_master LIMIT 1");
    checkTables();
    if (!hasFrames) {
        analysisMode = 3;
        return;
    }
    // CAPTURE's row is written at the end of the run, after the connections still open: a
    // database without it (a run that did not end) may hold frames that no row of CONNECTIONS
    // counts yet.
    runEnded = hasCapture && firstValue("SELECT 1 FROM capture LIMIT 1").has_value();
    frames.reset(prepare(selectFrames, "frames"));
    if (hasFrames6) {
        frames6.reset(prepare(selectFrames6, "FRAMES6"));
    }
    analysisMode = firstValue("SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND "
                              "name = 'IPPROTO' COLLATE NOCASE")
                       ? 1
                       : 2;
}

sqlite3_stmt* DatabaseReader::prepare(const std::string& sql, const char* table) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        fail(std::string("the ") + table +
             " table is not tidewrack's: " + sqlite3_errmsg(db.get()));
    }
    return statement;
}

std::string DatabaseReader::sqliteName() const {
    // A WAL-mode database (bytes 18 and 19 of the header are 2) is read with its log (-wal)
    // and the log's index (-shm), which SQLite makes beside it when they are missing, read-only
    // as it is.
    char header[20] = {};
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool wal = file >= 0 && pread(file, header, sizeof header, 0) == sizeof header &&
                     header[18] == 2 && header[19] == 2;
    if (file >= 0) {
        close(file);
    }
    struct stat log {};
    struct stat index {};
    const bool hasLog = stat((path + "-wal").c_str(), &log) == 0;
    if (!wal || (hasLog && stat((path + "-shm").c_str(), &index) == 0)) {
        return path;  // nothing to make: a writer has both, or left them
    }
    if (hasLog && log.st_size > 0) {
        fail("its write-ahead log " + path +
             "-wal holds changes not yet in it; open it once with sqlite3 as its owner to fold "
             "them in");
    }
    // No log, or an empty one: the file holds everything, and is read as one that cannot
    // change, which SQLite does without a log, an index or a lock.
    return "file:" + uriPath(path) + "?immutable=1";
}

void DatabaseReader::checkTables() {
    // SQLite's own reading of the schema, which the type column of sqlite_master need not match;
    // the columns of a table are looked at only when it is an ordinary one, since those of a
    // virtual table would need its module.
    const std::unique_ptr<sqlite3_stmt, Close> tables(
        prepare("SELECT lower(t.name), t.type, CASE t.type WHEN 'table' THEN EXISTS (SELECT 1 "
                "FROM pragma_table_xinfo(t.name) AS c WHERE c.hidden != 0) END "
                "FROM pragma_table_list AS t WHERE t.schema = 'main' AND lower(t.name) IN "
                "('frames', 'frames6', 'capture', 'days', 'not_analysed', 'vlans', 'seconds', "
                "'names', 'connections') "
                "ORDER BY lower(t.name) = 'frames' DESC",
                "schema"));
    int stepped;
    while ((stepped = sqlite3_step(tables.get())) == SQLITE_ROW) {
        const std::string name(text(tables.get(), 0)), type(text(tables.get(), 1));
        if (type == "view") {
            fail(name + " is a view, not a table" + notTidewracks);
        }
        if (type != "table") {
            fail(name + " is a virtual table" + notTidewracks);
        }
        if (sqlite3_column_int(tables.get(), 2) != 0) {
            fail(name + " has a generated or hidden column" + notTidewracks);
        }
        hasFrames = hasFrames || name == "frames";
        hasSeconds = hasSeconds || name == "seconds";
        hasConnections = hasConnections || name == "connections";
        hasFrames6 = hasFrames6 || name == "frames6";
        hasCapture = hasCapture || name == "capture";
        hasDays = hasDays || name == "days";
        hasNotAnalysed = hasNotAnalysed || name == "not_analysed";
        hasVlans = hasVlans || name == "vlans";
        hasNames = hasNames || name == "names";
    }
    if (stepped != SQLITE_DONE) {
        fail(std::string("cannot read: ") + sqlite3_errmsg(db.get()));
    }
    if (!hasFrames && hasSeconds && hasConnections && hasCapture) {
        return;  // of flows only
    }
    if (!hasFrames) {
        fail(std::string("no frames table") + notTidewracks);
    }
}

void DatabaseReader::fail(const std::string& what) const {
    throw ReportError(path + ": " + what);
}

std::optional<std::string> DatabaseReader::firstValue(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
    }
    std::optional<std::string> value;
    if (result == SQLITE_ROW) {
        value = std::string(text(statement, 0));
    }
    // The first read of the file is where SQLite finds out what the file is, and whether a
    // writer was stopped in a transaction: its journal, left hot, would have to be played back,
    // which a read-only connection cannot do.
    const std::string failure =
        result == SQLITE_NOTADB ? "not an SQLite database"
        : sqlite3_extended_errcode(db.get()) == SQLITE_READONLY_ROLLBACK
            ? "holds an interrupted run (a hot journal, " + path +
                  "-journal); open it once with sqlite3 as its owner to roll it back"
            : std::string("cannot read: ") + sqlite3_errmsg(db.get());
    sqlite3_finalize(statement);
    if (result != SQLITE_ROW && result != SQLITE_DONE) {
        fail(failure);
    }
    return value;
}

std::int64_t DatabaseReader::frameEstimate() {
    if (!hasFrames) {
        return 0;
    }
    sqlite3_stmt* statement = nullptr;
    std::int64_t rows = 0;
    if (sqlite3_prepare_v2(db.get(), "SELECT max(rowid) FROM frames", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return rows;
}

DatabaseDates DatabaseReader::dates() {
    if (!hasFrames) {
        return secondsDates();
    }
    DatabaseDates dates;
    dates.dated = hasCapture && hasDays;
    if (!dates.dated) {
        return dates;
    }
    const std::unique_ptr<sqlite3_stmt, Close> capture(
        prepare("SELECT utc_offset, time_zone FROM capture LIMIT 1", "CAPTURE"));
    // Two distinct offsets tell as much as any more: the axis is then in UTC.
    const auto addOffset = [&](std::int64_t offset) {
        if (dates.offsets.size() < 2 &&
            std::find(dates.offsets.begin(), dates.offsets.end(), offset) == dates.offsets.end()) {
            dates.offsets.push_back(offset);
        }
    };
    int stepped = sqlite3_step(capture.get());
    if (stepped == SQLITE_ROW) {
        const std::int64_t offset = sqlite3_column_int64(capture.get(), 0);
        if (sqlite3_column_type(capture.get(), 0) != SQLITE_NULL &&
            offset >= -FrameClock::widestOffset && offset <= FrameClock::widestOffset) {
            addOffset(offset);
        }
        dates.zone = text(capture.get(), 1);
    }
    const std::unique_ptr<sqlite3_stmt, Close> days(
        prepare("SELECT frame, date, utc_offset FROM days", "DAYS"));
    while ((stepped = sqlite3_step(days.get())) == SQLITE_ROW) {
        if (const std::optional<std::int64_t> midnight = FrameClock::midnight(days.get())) {
            dates.earliestMidnight = std::min(dates.earliestMidnight, *midnight);
            addOffset(sqlite3_column_int64(days.get(), 2));
        }
    }
    if (stepped != SQLITE_DONE) {
        fail(std::string("cannot read DAYS: ") + sqlite3_errmsg(db.get()));
    }
    return dates;
}

namespace {

// The columns of FRAMES and of FRAMES6 into `row`.
void readFrame(sqlite3_stmt* f, FrameRow& row, TrafficTally& tally) {
    row.source = address(f, 1);
    row.sourcePort = static_cast<std::uint16_t>(sqlite3_column_int(f, 5));
    row.destination = address(f, 6);
    row.destinationPort = static_cast<std::uint16_t>(sqlite3_column_int(f, 10));
    row.protocol = tally.catalog.number(text(f, 11), 4);
    row.tcpFlags =
        tally.catalog.kind(row.protocol) == ProtocolKind::Tcp ? tcpFlags(text(f, 12)) : 0;
}

void readFrame6(sqlite3_stmt* f, FrameRow& row, TrafficTally& tally) {
    row.source = address6(f, 1);
    row.sourcePort = static_cast<std::uint16_t>(sqlite3_column_int(f, 2));
    row.destination = address6(f, 3);
    row.destinationPort = static_cast<std::uint16_t>(sqlite3_column_int(f, 4));
    row.protocol = tally.catalog.number(text(f, 5), 6);
    row.tcpFlags = tally.catalog.kind(row.protocol) == ProtocolKind::Tcp ? tcpFlags(text(f, 6)) : 0;
}

std::uint32_t wireLength(sqlite3_stmt* f, int column) {
    const std::int64_t length = sqlite3_column_int64(f, column);
    return length < 0 ? 0 : length > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(length);
}

// A count that the database states (frames or bytes): none when negative, as a wire length.
std::int64_t statedCount(sqlite3_stmt* row, int column) {
    return std::max<std::int64_t>(0, sqlite3_column_int64(row, column));
}

// The frames and bytes of a row of NOT_ANALYSED or VLANS, whose rows before it in the table
// left `left` of the frames delivered: it takes at most those, and each of its frames at most
// the bytes of the longest wire length.
std::pair<std::int64_t, std::int64_t> statedPart(sqlite3_stmt* row, std::int64_t& left) {
    const std::int64_t frames = std::min(statedCount(row, 1), left), bytes = statedCount(row, 2);
    left -= frames;
    constexpr std::int64_t longest = UINT32_MAX;
    return {frames, frames > INT64_MAX / longest ? bytes : std::min(bytes, frames * longest)};
}

}  // namespace

bool DatabaseReader::readsRecords(const TimeAxis& axis, const FrameFilter* filter) const {
    if (!hasFrames) {
        return true;
    }
    const char* frames = std::getenv("TIDEWRACK_REPORT_FRAMES");
    const bool forced = frames != nullptr && *frames != '\0' && std::strcmp(frames, "0") != 0;
    return hasConnections && hasSeconds && runEnded && axis.dated && !forced &&
           (filter == nullptr || filter->connectionsOnly());
}

void DatabaseReader::read(TrafficTally& tally, Progress& progress, std::size_t number,
                          std::size_t count, const TimeAxis& axis, FrameFilter* filter) {
    const bool records = readsRecords(axis, filter);
    progress.database(number, count, path, records ? 0 : frameEstimate());
    tally.startDatabase(path, analysisMode, hasCapture && (hasDays || !hasFrames), records,
                        hasFrames);
    if (records) {
        readRecords(tally, axis, filter);
        // Only when the record has ICMP connections: the scan reads every row.
        if (hasFrames &&
            firstValue("SELECT 1 FROM connections WHERE protocol IN (1, 58) LIMIT 1")) {
            // The ICMP messages and errors need each frame's type and code.
            const std::unique_ptr<sqlite3_stmt, Close> icmp(
                prepare(std::string(selectFrames) + " WHERE ipproto = 'ICMP'", "frames"));
            const std::unique_ptr<sqlite3_stmt, Close> icmp6(
                hasFrames6 ? prepare(std::string(selectFrames6) + " WHERE ipproto = 'IPv6-ICMP'",
                                     "FRAMES6")
                           : nullptr);
            readFrames(tally, progress, axis, filter, icmp.get(), icmp6.get(), true);
        }
    } else {
        readFrames(tally, progress, axis, filter, frames.get(), frames6.get(), false);
    }
    readCapture(tally);
    if (filter == nullptr) {
        readCounts(tally);
    }
}

void DatabaseReader::readFrames(TrafficTally& tally, Progress& progress, const TimeAxis& axis,
                                FrameFilter* filter, sqlite3_stmt* const f, sqlite3_stmt* const f6,
                                bool icmpOnly) {
    std::unique_ptr<sqlite3_stmt, Close> days;
    if (axis.dated) {
        days.reset(prepare("SELECT frame, date, utc_offset FROM days ORDER BY frame", "DAYS"));
    }
    FrameClock clock(axis, days.get());
    FrameRow row;
    int stepped = sqlite3_step(f);
    int stepped6 = f6 != nullptr ? sqlite3_step(f6) : SQLITE_DONE;
    for (std::uint64_t read = 1; stepped == SQLITE_ROW || stepped6 == SQLITE_ROW; ++read) {
        // The frame of the lower number next: FRAMES and FRAMES6 share one count.
        const bool four =
            stepped == SQLITE_ROW &&
            (stepped6 != SQLITE_ROW || sqlite3_column_int64(f, 0) <= sqlite3_column_int64(f6, 0));
        if (four) {
            readFrame(f, row, tally);
            // The frame's number places it among the days of a dated axis only.
            row.time = clock.place(axis.dated ? sqlite3_column_int64(f, 0) : 0, text(f, 13));
            row.length = wireLength(f, 14);
            stepped = sqlite3_step(f);
        } else {
            readFrame6(f6, row, tally);
            row.time = clock.place(sqlite3_column_int64(f6, 0), text(f6, 7));
            row.length = wireLength(f6, 8);
            stepped6 = sqlite3_step(f6);
        }
        if (filter == nullptr || filter->passes(row, tally.catalog)) {
            if (icmpOnly) {
                tally.addIcmpFrame(row);
            } else {
                tally.add(row);
            }
        }
        if ((read & 0xFFFF) == 0) {
            progress.frames(read);
        }
    }
    if (stepped != SQLITE_DONE || stepped6 != SQLITE_DONE || clock.failed()) {
        fail(std::string("cannot read the frames: ") + sqlite3_errmsg(db.get()));
    }
}

void DatabaseReader::readCapture(TrafficTally& tally) {
    if (!hasCapture) {
        return;
    }
    // A database made before CAPTURE had read_error tells of none.
    const bool hasReadError = firstValue("SELECT 1 FROM pragma_table_xinfo('capture') WHERE "
                                         "lower(name) = 'read_error'")
                                  .has_value();
    const std::unique_ptr<sqlite3_stmt, Close> capture(
        prepare(hasReadError ? "SELECT frames_delivered, read_error FROM capture LIMIT 1"
                             : "SELECT frames_delivered, NULL FROM capture LIMIT 1",
                "CAPTURE"));
    const int stepped = sqlite3_step(capture.get());
    if (stepped == SQLITE_ROW) {
        if (sqlite3_column_type(capture.get(), 0) != SQLITE_NULL) {
            delivered = sqlite3_column_int64(capture.get(), 0);
        }
        // libpcap's messages fit its error buffer of 256 bytes: a longer text is cut there, so
        // that a crafted one costs no more.
        constexpr std::size_t longest = 256;
        if (sqlite3_column_type(capture.get(), 1) != SQLITE_NULL) {
            tally.readError(text(capture.get(), 1).substr(0, longest));
        }
    } else if (stepped != SQLITE_DONE) {
        fail(std::string("cannot read CAPTURE: ") + sqlite3_errmsg(db.get()));
    }
    tally.delivered(delivered);
}

void DatabaseReader::readCounts(TrafficTally& tally) {
    const auto each = [&](const char* sql, const char* table, const auto& take) {
        const std::unique_ptr<sqlite3_stmt, Close> rows(prepare(sql, table));
        int stepped;
        while ((stepped = sqlite3_step(rows.get())) == SQLITE_ROW) {
            take(rows.get());
        }
        if (stepped != SQLITE_DONE) {
            fail(std::string("cannot read ") + table + ": " + sqlite3_errmsg(db.get()));
        }
    };
    // The frames not analysed and the tagged ones are parts of the frames delivered: each table
    // holds no more than those, and a database that does not say how many it delivered holds
    // no parts of them.
    if (delivered < 0) {
        return;
    }
    if (hasNotAnalysed) {
        std::int64_t left = delivered;
        each("SELECT kind, frames, bytes FROM not_analysed", "NOT_ANALYSED", [&](sqlite3_stmt* r) {
            const auto [frames, bytes] = statedPart(r, left);
            tally.notAnalysed(text(r, 0), frames, bytes);
        });
    }
    if (hasVlans) {
        std::int64_t left = delivered;
        each("SELECT vlan, frames, bytes FROM vlans", "VLANS", [&](sqlite3_stmt* r) {
            const auto [frames, bytes] = statedPart(r, left);
            tally.vlan(sqlite3_column_int64(r, 0), frames, bytes);
        });
    }
}

}  // namespace tidewrack::report
