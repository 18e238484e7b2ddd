// Compares two SQLite databases table by table and row by row: the same tables with the same
// create statements, the same rows in the same order with the same values and types. The
// benchmark uses it to show that the SQL baseline writes exactly the analyser's database, so
// that the two are timed on the same work.
//
// Usage: compare_databases [--tables-of-first] <a.db> <b.db>
//   --tables-of-first  compare only the tables of a.db, which b.db may hold beside others (the
//                      classic tables of a run with the extended record)
// Exit status 0 when equal, 1 with the first difference printed, 2 on a usage or open error.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Database {
    sqlite3* handle = nullptr;
    explicit Database(const char* path) {
        if (sqlite3_open_v2(path, &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "cannot open %s\n", path);
            std::exit(2);
        }
    }
    ~Database() { sqlite3_close(handle); }

    // Every row of a query, each value as its type number and text.
    std::vector<std::string> rows(const std::string& query) const {
        std::vector<std::string> result;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, query.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "%s: %s\n", query.c_str(), sqlite3_errmsg(handle));
            std::exit(2);
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const unsigned char* text = sqlite3_column_text(statement, c);
                row += std::to_string(sqlite3_column_type(statement, c)) + ':' +
                       (text != nullptr ? reinterpret_cast<const char*>(text) : "") + '|';
            }
            result.push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        return result;
    }
};

bool same(const std::vector<std::string>& a, const std::vector<std::string>& b,
          const std::string& what) {
    for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
        if (i >= a.size() || i >= b.size() || a[i] != b[i]) {
            std::printf("%s differs at row %zu:\n  %s\n  %s\n", what.c_str(), i + 1,
                        i < a.size() ? a[i].c_str() : "(none)",
                        i < b.size() ? b[i].c_str() : "(none)");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool onlyFirst = argc == 4 && std::string(argv[1]) == "--tables-of-first";
    if (argc != 3 && !onlyFirst) {
        std::fprintf(stderr, "usage: %s [--tables-of-first] <a.db> <b.db>\n", argv[0]);
        return 2;
    }
    const Database a(argv[argc - 2]), b(argv[argc - 1]);
    const std::string tableQuery =
        "SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY name";
    std::vector<std::string> tablesOfB = b.rows(tableQuery);
    if (onlyFirst) {
        const std::vector<std::string> tablesOfA = a.rows(tableQuery);
        std::erase_if(tablesOfB, [&](const std::string& table) {
            return std::find(tablesOfA.begin(), tablesOfA.end(), table) == tablesOfA.end();
        });
    }
    if (!same(a.rows(tableQuery), tablesOfB, "the table list")) {
        return 1;
    }
    std::size_t rows = 0;
    const std::vector<std::string> names = a.rows("SELECT name FROM sqlite_master "
                                                  "WHERE type = 'table' ORDER BY name");
    for (const std::string& entry : names) {
        // entry is "3:<name>|": the type number, the name, the separator.
        const std::string name = entry.substr(2, entry.size() - 3);
        const std::string query = "SELECT * FROM \"" + name + "\" ORDER BY rowid";
        const std::vector<std::string> rowsA = a.rows(query);
        if (!same(rowsA, b.rows(query), "table " + name)) {
            return 1;
        }
        rows += rowsA.size();
    }
    std::printf("same: %zu tables, %zu rows\n", names.size(), rows);
    return 0;
}
