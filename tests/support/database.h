// Reading a database back with SQLite: each result row as its columns joined by '|'.
#pragma once

#include <string>
#include <vector>

namespace testkit {

std::vector<std::string> query(const std::string& databasePath, const std::string& sql);

// The names of the tables, sorted.
std::vector<std::string> tableNames(const std::string& databasePath);

}  // namespace testkit
