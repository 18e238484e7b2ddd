// Preparing, binding, stepping and reading the store's statements.
#include "report/sql_statement.h"

#include <stdexcept>
#include <string>

#include "report/report_error.h"

namespace tidewrack::report {

Statement::Statement(sqlite3* connection, std::string_view sql) : db(connection) {
    sqlite3_stmt* prepared = nullptr;
    const int result =
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &prepared, nullptr);
    statement.reset(prepared);
    if (result != SQLITE_OK) {
        fail();
    }
}

void Statement::fail() const {
    throw ReportError(std::string("temporary store: ") + sqlite3_errmsg(db));
}

Statement& Statement::bind(int parameter, std::int64_t value) {
    sqlite3_bind_int64(statement.get(), parameter, value);
    return *this;
}

Statement& Statement::bindNull(int parameter) {
    sqlite3_bind_null(statement.get(), parameter);
    return *this;
}

Statement& Statement::bindText(int parameter, std::string_view text) {
    sqlite3_bind_text(statement.get(), parameter, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindBlob(int parameter, const void* bytes, int size) {
    sqlite3_bind_blob(statement.get(), parameter, bytes, size, SQLITE_TRANSIENT);
    return *this;
}

bool Statement::step() {
    const int result = sqlite3_step(statement.get());
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result != SQLITE_DONE) {
        fail();
    }
    return false;
}

void Statement::reset() {
    sqlite3_reset(statement.get());
}

void Statement::run() {
    step();
    reset();
}

int Statement::columnCount() const {
    return sqlite3_column_count(statement.get());
}

std::string_view Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(statement.get(), column);
    return name == nullptr ? std::string_view() : std::string_view(name);
}

int Statement::column(std::string_view name) const {
    for (int i = 0; i < columnCount(); ++i) {
        if (columnName(i) == name) {
            return i;
        }
    }
    throw std::logic_error("a statement of the store has no value named " + std::string(name) +
                           ": " + sqlite3_sql(statement.get()));
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(statement.get(), column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement.get(), column);
}

std::string_view Statement::text(int column) const {
    const void* bytes = sqlite3_column_blob(statement.get(), column);
    const int size = sqlite3_column_bytes(statement.get(), column);
    return bytes == nullptr ? std::string_view()
                            : std::string_view(static_cast<const char*>(bytes), size);
}

}  // namespace tidewrack::report
