// Reading a database's connection record (CONNECTIONS) and its traffic by second (SECONDS)
// into the tally, instead of its frames: see database_reader.h for when.
//
// A connection's times are read from its first_utc and last_utc (ISO 8601 in UTC, to the
// microsecond), placed on a dated axis as the frames' local times and DAYS would place them,
// and on the days of classic databases as its local time of day (the CAPTURE offset added) on
// a line of days that starts with the database's first second. The connect and handshake times
// are seconds to the microsecond. Addresses are the record's texts; a text that is no address
// of the connection's family counts as 0.0.0.0 or "::", as a frame's would.
#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

#include "report/calendar.h"
#include "report/database_reader.h"
#include "report/frame_clock.h"
#include "report/report_error.h"

namespace tidewrack::report {

namespace {

std::string_view columnText(sqlite3_stmt* row, int column) {
    const auto* characters = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    const int length = sqlite3_column_bytes(row, column);
    return characters == nullptr ? std::string_view() : std::string_view(characters, length);
}

IpAddress recordAddress(sqlite3_stmt* row, int column, bool six) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    unsigned char bytes[16] = {};
    if (text == nullptr || inet_pton(six ? AF_INET6 : AF_INET, text, bytes) != 1) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
    }
    if (six) {
        return IpAddress::v6(bytes);
    }
    return IpAddress::v4(std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                         std::uint32_t{bytes[2]} << 8 | bytes[3]);
}

// The UTC microseconds of "YYYY-MM-DDTHH:MM:SS.ffffffZ", or nothing.
std::optional<std::int64_t> utcMicroseconds(std::string_view text) {
    if (text.size() < 20 || text[10] != 'T' || text.back() != 'Z') {
        return std::nullopt;
    }
    const std::optional<std::int64_t> day = parseDate(text.substr(0, 10));
    const std::int64_t clock = parseTimeOfDay(text.substr(11, text.size() - 12));
    if (!day || clock == unknownTime) {
        return std::nullopt;
    }
    return *day * microsecondsPerDay + clock;
}

// The UTC microseconds of a second of SECONDS (Unix time), or nothing for one outside the
// years 0000 to 9999, which no capture has and whose microseconds could overflow.
std::optional<std::int64_t> secondMicroseconds(std::int64_t second) {
    constexpr std::int64_t earliest = -62167219200, latest = 253402300799;
    if (second < earliest || second > latest) {
        return std::nullopt;
    }
    return second * microsecondsPerSecond;
}

// Seconds to the microsecond as microseconds; unknownTime for NULL or a negative value.
std::int64_t duration(sqlite3_stmt* row, int column) {
    if (sqlite3_column_type(row, column) == SQLITE_NULL) {
        return unknownTime;
    }
    const double seconds = sqlite3_column_double(row, column);
    return seconds >= 0 && seconds < 1e12 ? std::llround(seconds * 1e6) : unknownTime;
}

// A count the record states; none when NULL or negative.
std::uint64_t count(sqlite3_stmt* row, int column) {
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, sqlite3_column_int64(row, column)));
}

Counts statedCounts(sqlite3_stmt* row, int frames, int bytes) {
    Counts counts;
    counts.frames =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, sqlite3_column_int64(row, frames)));
    counts.bytes =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, sqlite3_column_int64(row, bytes)));
    return counts;
}

}  // namespace

std::optional<std::int64_t> DatabaseReader::captureOffset() {
    const std::optional<std::string> offset =
        firstValue("SELECT utc_offset FROM capture WHERE utc_offset IS NOT NULL LIMIT 1");
    if (!offset) {
        return std::nullopt;
    }
    const long long seconds = std::strtoll(offset->c_str(), nullptr, 10);
    if (seconds < -FrameClock::widestOffset || seconds > FrameClock::widestOffset) {
        return std::nullopt;
    }
    return seconds;
}

DatabaseDates DatabaseReader::secondsDates() {
    DatabaseDates dates;
    const std::optional<std::int64_t> offset = captureOffset();
    const std::optional<std::string> first = firstValue("SELECT min(second) FROM seconds");
    dates.dated = offset.has_value();
    if (!dates.dated) {
        return dates;
    }
    dates.offsets.push_back(*offset);
    if (first && secondMicroseconds(std::strtoll(first->c_str(), nullptr, 10))) {
        const std::int64_t local = std::strtoll(first->c_str(), nullptr, 10) + *offset;
        dates.earliestMidnight =
            (floorDivide(local, 86400) * 86400 - *offset) * microsecondsPerSecond;
    }
    if (const std::optional<std::string> zone =
            firstValue("SELECT time_zone FROM capture LIMIT 1")) {
        dates.zone = *zone;
    }
    return dates;
}

void DatabaseReader::readRecords(TrafficTally& tally, const TimeAxis& axis, FrameFilter* filter) {
    // On the days of classic databases: the local time on a line of days whose day 0 is the
    // database's first second's.
    std::int64_t shift = 0;
    if (!axis.dated) {
        const std::int64_t offset = captureOffset().value_or(0) * microsecondsPerSecond;
        const std::optional<std::string> first = firstValue("SELECT min(second) FROM seconds");
        const std::int64_t start =
            first ? secondMicroseconds(std::strtoll(first->c_str(), nullptr, 10)).value_or(0) : 0;
        shift = offset - floorDivide(start + offset, microsecondsPerDay) * microsecondsPerDay;
    }
    const auto place = [&](std::optional<std::int64_t> utc) -> std::int64_t {
        if (!utc) {
            return unknownTime;
        }
        const std::int64_t time = axis.dated ? axis.fromUtcMicroseconds(*utc) : *utc + shift;
        return time < 0 ? unknownTime : time;
    };
    const bool windowed = filter != nullptr && filter->timed();
    const bool endsOnly = filter != nullptr && filter->asksForEnds();
    // The protocol of each family and number that the connections name, for the seconds.
    std::unordered_map<int, std::uint16_t> protocolOf;
    const std::unique_ptr<sqlite3_stmt, Close> rows(prepare(
        "SELECT family, protocol, ipproto, client, client_port, server, server_port, first_utc, "
        "last_utc, frames_client, bytes_client, frames_server, bytes_server, state, history, "
        "syns, connect_time, handshake_time, retransmissions_client, retransmissions_server, "
        "out_of_order_client, out_of_order_server, duplicate_acks_client, duplicate_acks_server, "
        "zero_windows_client, zero_windows_server, missed_bytes, community_id FROM connections",
        "CONNECTIONS"));
    sqlite3_stmt* const c = rows.get();
    ConnectionRecord r;
    FrameRow probe;
    int stepped;
    while ((stepped = sqlite3_step(c)) == SQLITE_ROW) {
        const int family = sqlite3_column_int(c, 0) == 6 ? 6 : 4;
        r.protocol = tally.catalog.number(columnText(c, 2), family);
        protocolOf.emplace(family << 8 | (sqlite3_column_int(c, 1) & 0xFF), r.protocol);
        r.client = recordAddress(c, 3, family == 6);
        r.clientPort = static_cast<std::uint16_t>(sqlite3_column_int(c, 4));
        r.server = recordAddress(c, 5, family == 6);
        r.serverPort = static_cast<std::uint16_t>(sqlite3_column_int(c, 6));
        r.first = place(utcMicroseconds(columnText(c, 7)));
        r.last = place(utcMicroseconds(columnText(c, 8)));
        if (r.last == unknownTime || r.last < r.first) {
            r.last = r.first;
        }
        r.fromClient = statedCounts(c, 9, 10);
        r.fromServer = statedCounts(c, 11, 12);
        r.state = columnText(c, 13);
        r.history = columnText(c, 14);
        r.syns = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(sqlite3_column_int64(c, 15), 0, UINT32_MAX));
        r.connect = duration(c, 16);
        r.handshake = duration(c, 17);
        for (int way = 0; way < 2; ++way) {
            r.retransmissions[way] = count(c, 18 + way);
            r.outOfOrder[way] = count(c, 20 + way);
            r.duplicateAcks[way] = count(c, 22 + way);
            r.zeroWindows[way] = count(c, 24 + way);
        }
        r.missedBytes = count(c, 26);
        r.communityId = columnText(c, 27);
        if (filter != nullptr && !filter->idPasses(r.communityId)) {
            continue;
        }
        if (filter != nullptr) {
            probe.source = r.client;
            probe.destination = r.server;
            probe.sourcePort = r.clientPort;
            probe.destinationPort = r.serverPort;
            probe.protocol = r.protocol;
            if (!filter->passes(probe, tally.catalog, r.first, r.last)) {
                continue;
            }
        }
        tally.addConnection(r, !windowed, endsOnly);
    }
    if (stepped != SQLITE_DONE) {
        fail(std::string("cannot read CONNECTIONS: ") + sqlite3_errmsg(db.get()));
    }
    // The seconds tell the family and protocol of their frames, not their ends: under a filter
    // of hosts or ports they are left out, and the timeline with them.
    if (endsOnly) {
        tally.withoutSeconds();
        return;
    }
    const std::unique_ptr<sqlite3_stmt, Close> secondRows(
        prepare("SELECT second, family, protocol, frames, bytes FROM seconds", "SECONDS"));
    sqlite3_stmt* const s = secondRows.get();
    SecondRecord second;
    while ((stepped = sqlite3_step(s)) == SQLITE_ROW) {
        second.start = place(secondMicroseconds(sqlite3_column_int64(s, 0)));
        if (second.start == unknownTime) {
            continue;
        }
        const int family = sqlite3_column_int(s, 1) == 6 ? 6 : 4;
        const auto found = protocolOf.find(family << 8 | (sqlite3_column_int(s, 2) & 0xFF));
        if (filter != nullptr &&
            (found == protocolOf.end() ||
             !filter->secondPasses(found->second, second.start, tally.catalog))) {
            continue;
        }
        second.counts = statedCounts(s, 3, 4);
        tally.addSecond(second, windowed);
    }
    if (stepped != SQLITE_DONE) {
        fail(std::string("cannot read SECONDS: ") + sqlite3_errmsg(db.get()));
    }
}

}  // namespace tidewrack::report
