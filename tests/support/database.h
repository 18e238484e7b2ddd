// Reading a database back with SQLite: each result row as its columns joined by '|'.
#pragma once

#include <string>
#include <vector>

namespace testkit {

// The rows of `sql` on the database, opened read-only, with `parameters` bound as texts to ?1,
// ?2...; throws when the statement fails.
std::vector<std::string> query(const std::string& databasePath, const std::string& sql,
                               const std::vector<std::string>& parameters = {});

// The names of the tables, sorted.
std::vector<std::string> tableNames(const std::string& databasePath);

}  // namespace testkit
