// SQLite read-back for the tests.
#include "database.h"

#include <sqlite3.h>

#include <stdexcept>

namespace testkit {

std::vector<std::string> query(const std::string& databasePath, const std::string& sql,
                               const std::vector<std::string>& parameters) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(databasePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + databasePath);
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(message + " in: " + sql);
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        sqlite3_bind_text(statement, static_cast<int>(i + 1), parameters[i].c_str(),
                          static_cast<int>(parameters[i].size()), SQLITE_STATIC);
    }
    std::vector<std::string> rows;
    int stepped;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = sqlite3_column_text(statement, i);
            if (i > 0) {
                row += '|';
            }
            row += text ? reinterpret_cast<const char*>(text) : "";
        }
        rows.push_back(row);
    }
    const std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (stepped != SQLITE_DONE) {
        throw std::runtime_error(message + " in: " + sql);
    }
    return rows;
}

std::vector<std::string> tableNames(const std::string& databasePath) {
    return query(databasePath, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
}

}  // namespace testkit
