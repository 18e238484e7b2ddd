// The texts of a cell: for people, as the terminal and the page show it, and raw, as JSON and
// CSV write it. Each kind of value is written here and nowhere else; the outputs escape the
// texts for their medium.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "report/report_model.h"
#include "report/sql_statement.h"

namespace tidewrack::report {

// For people: "20,928", "93.184.216.34:443", "[2001:db8::1]:443", "TCP (IPv6)",
// "2024-12-31 23:59:58.010000", "day 1 00:00:02.000000", "4.490 s", "24.000 ms", "96.2 %",
// "+1,234", "-50.0 %", "37.3 kbit/s", "16.0" (frames a second).
std::string peopleText(const Cell& cell, Kind kind, const TimeAxis& axis);

// A JSON value: a number, a string, null or an array (of port numbers or of names).
nlohmann::ordered_json jsonValue(const Cell& cell, Kind kind, const TimeAxis& axis);

// A CSV field before quoting: JSON's value without its quotes, empty for null, a list's items
// joined by blanks.
std::string csvValue(const Cell& cell, Kind kind, const TimeAxis& axis);

// The cell of `kind` at the statement's `column`, which moves past the values it took: two for
// an end (address, port or NULL), a protocol (name, family), a share or a ratio (part, whole)
// and a rate (count, microseconds), one for the others.
Cell readCell(const Statement& statement, int& column, Kind kind);

// Checks, once when a statement is prepared, that it returns the values of `columns` in their
// order, each named for its column: its key, and for the second of two values the key and
// "_port" (an end), "_family" (a protocol) or "_whole" (a share's or ratio's whole, a rate's
// microseconds). A value out of place is a fault of the statement: a std::logic_error naming
// `what` and the value.
void checkValueNames(const Statement& statement, std::span<const Column> columns,
                     std::string_view what);

// A share as a fraction between 0 and 1.
double fraction(const Cell& share);

// Whether people read values of the kind as numbers, aligned to the right.
bool isNumber(Kind kind);
// A column's title at the head of a line: "Protocols seen".
std::string capitalized(std::string_view title);

// A count with its digits grouped by three: 1,234,567.
std::string groupDigits(std::uint64_t n);
// A count of things, named as one or as many: "1 database", "3 intervals".
std::string counted(std::uint64_t n, const char* one, const char* many);
// A size in bytes for an axis: "950 B", "3.4 kB", "12 MB", "1.2 GB" (powers of 1,000).
std::string byteSize(std::uint64_t bytes);
// The width of the timeline's intervals: "1 s", "10 min", "1 h", "100 d".
std::string intervalWidth(std::int64_t microseconds);

}  // namespace tidewrack::report
