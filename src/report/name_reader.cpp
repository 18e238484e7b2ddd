// Reading the names a database learnt: NAMES, one row per name learnt for an address, and the
// server names of CONNECTIONS, one row per connection. Either is read only when the database has
// it with every column read here (a database of an earlier tidewrack may have CONNECTIONS
// without its names), so that a database without them simply gives no names. Addresses that are
// no address's text are passed over; a connection's first time is its first_utc
// (YYYY-MM-DDTHH:MM:SS.ffffffZ) in microseconds since 1970.
#include <sqlite3.h>

#include <memory>
#include <string_view>

#include "report/database_reader.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

std::string_view column(sqlite3_stmt* row, int at) {
    const auto* characters = reinterpret_cast<const char*>(sqlite3_column_text(row, at));
    return characters == nullptr
               ? std::string_view()
               : std::string_view(characters,
                                  static_cast<std::size_t>(sqlite3_column_bytes(row, at)));
}

std::optional<IpAddress> addressOf(sqlite3_stmt* row, int at) {
    const std::string text(column(row, at));
    return parseIpAddress(text.c_str());
}

}  // namespace

void DatabaseReader::readNames(AddressNames& names) {
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using Rows = std::unique_ptr<sqlite3_stmt, Finalize>;
    // Whether `table` has every one of the `count` columns of `list` (SQL text literals).
    const auto hasColumns = [&](const char* table, const char* list, int count) {
        const Rows found(prepare(std::string("SELECT count(DISTINCT lower(name)) FROM "
                                             "pragma_table_info('") +
                                     table + "') WHERE lower(name) IN (" + list + ")",
                                 table));
        return sqlite3_step(found.get()) == SQLITE_ROW &&
               sqlite3_column_int(found.get(), 0) == count;
    };
    const auto readAll = [&](sqlite3_stmt* rows, const char* table, const auto& take) {
        int stepped;
        while ((stepped = sqlite3_step(rows)) == SQLITE_ROW) {
            take(rows);
        }
        if (stepped != SQLITE_DONE) {
            fail(std::string("cannot read ") + table + ": " + sqlite3_errmsg(db.get()));
        }
    };
    if (hasNames && hasColumns("NAMES", "'frame', 'address', 'name', 'source'", 4)) {
        // In the order of learning; of the names of one frame, the first in byte order last,
        // so that it is the one kept as learnt last.
        const Rows rows(prepare("SELECT address, name, source FROM NAMES "
                                "WHERE name IS NOT NULL AND name != '' ORDER BY frame, name DESC",
                                "NAMES"));
        readAll(rows.get(), "NAMES", [&](sqlite3_stmt* row) {
            if (const std::optional<IpAddress> address = addressOf(row, 0)) {
                names.learnt(*address, column(row, 1), column(row, 2));
            }
        });
    }
    if (hasConnections &&
        hasColumns("CONNECTIONS",
                   "'server', 'server_name', 'name_source', 'first_utc', 'bytes_client', "
                   "'bytes_server'",
                   6)) {
        const Rows rows(prepare(
            "SELECT server, server_name, name_source, "
            "CAST(strftime('%s', substr(first_utc, 1, 19)) AS INTEGER) * 1000000 + "
            "iif(substr(first_utc, 20, 1) = '.', CAST(substr(first_utc, 21, 6) AS INTEGER), 0), "
            "bytes_client, bytes_server FROM CONNECTIONS "
            "WHERE server_name IS NOT NULL AND server_name != ''",
            "CONNECTIONS"));
        readAll(rows.get(), "CONNECTIONS", [&](sqlite3_stmt* row) {
            const std::optional<IpAddress> server = addressOf(row, 0);
            if (!server) {
                return;
            }
            const std::int64_t first = sqlite3_column_type(row, 3) == SQLITE_NULL
                                           ? unknownTime
                                           : sqlite3_column_int64(row, 3);
            names.connection(*server, column(row, 1), column(row, 2), first,
                             sqlite3_column_int64(row, 4) + sqlite3_column_int64(row, 5));
        });
    }
}

}  // namespace tidewrack::report
