// The report as a list of sections, each declared once (section_declarations.cpp) and shown
// alike by every output: the terminal's text, the page, JSON and CSV.
//
// A section has an id (its member name in the JSON and the name --csv takes), a title and a
// note for people, columns, rows of cells, and perhaps a chart. A column has a key (its JSON
// member and CSV heading), a title for people, the kind of value its cells hold and its fit:
// what a terminal too narrow for the table may do with it. A cell holds the raw value; its
// column's kind says what the value means, how people see it and how JSON and CSV write it,
// all in cell_text.cpp. The rows of a section are read from the tally's store each time an
// output goes through them, so that a section of millions of rows is never held whole.
//
// A column that may be left out of a table too wide says when it goes: its `goes`, the lowest
// first, so that each section keeps what matters most to it longest. The columns a list is
// ranked by never go, nor the columns a user chose (--columns), who sees those alone, in the
// order chosen, in every output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/sql_statement.h"
#include "report/time_axis.h"

namespace tidewrack::report {

enum class Kind : std::uint8_t {
    Text,       // a name or a path
    Count,      // frames, connections, ports...: digits grouped for people
    Bytes,      // a number of bytes: as Count, and in kB, MB, GB on a chart's axis
    Number,     // an integer shown as it is: a mode, a day, an ICMP type or code, seconds
    Port,       // a port; null stands for every port without a well-known service, shown "*"
    Address,    // an IP address: its 4 or 16 bytes
    End,        // an address and, for TCP and UDP, a port: address:port, [IPv6 address]:port, or
                // the address alone
    Protocol,   // a name of one family's protocol or message, and the family (4 or 6): people see
                // "(IPv6)" after the name of one of IPv6; scripts get the name as stored
    Time,       // microseconds on the report's time axis (time_axis.h); null when unknown
    UtcTime,    // the same, for scripts in UTC (ISO 8601); null on an axis without dates
    Interval,   // the start of an interval of the timeline: a time shown to the second
    Duration,   // microseconds; null when unknown
    Delay,      // microseconds, as short as a handshake: shown in milliseconds to the microsecond
    Share,      // a part of a whole: a fraction, shown as a percentage
    Change,     // a signed difference of bytes: shown with its sign
    Ratio,      // a signed part of a whole: a fraction, shown as a percentage with its sign;
                // null when there is no whole
    BitRate,    // bits over microseconds: bits per second; null over no time
    FrameRate,  // frames over microseconds: frames per second; null over no time
    Ports,      // a list of ports
    Names,      // a list of texts
};

enum class Fit : std::uint8_t {
    Keep,      // always shown whole
    Drop,      // left out of a table too wide, in the order of the columns' `goes`
    DropPair,  // left out as Drop is, and with it the nearest Drop column of its kind to its left,
               // which goes at the same step: the two directions of a count go out together
    Cut,       // shortened at its end, marked with '~'
    CutFront,  // shortened at its start: a path keeps its file name
    Hidden,    // for scripts only: people see it within another column (a day within its time),
               // or in another section
};

struct Column {
    std::string_view key;
    std::string_view title;
    Kind kind;
    Fit fit = Fit::Keep;
    // When a Drop or DropPair column goes from a table too wide: those of 1 first, then those of
    // 2, and so on; 0 for a column of any other fit.
    std::uint8_t goes = 0;
    bool blankRepeat = false;  // people see it blank where it repeats the column before
    // A column of the name of an address, which no SQL reads: the keys of the Address or End
    // columns whose address it names, split by commas, the first one not null standing for
    // the row; and whether it holds where that name was learnt rather than the name itself
    // (address_names.h). Empty for a column of the row's SQL.
    std::string_view nameOf{};
    bool nameSource = false;
};

// The two columns of the name of the address in the columns `of` (Column::nameOf): `name`,
// which goes from a table too wide at step `goes`, and `name_source`, for scripts. A section
// shows names with these two in its list of columns, and no SQL of its own.
#define NAME_COLUMNS(of, goes)                                                                     \
    {"name", "name", Kind::Text, Fit::Drop, goes, false, of}, {                                    \
        "name_source", "name source", Kind::Text, Fit::Hidden, 0, false, of, true                  \
    }

// The place of the column `key` among `columns`; -1 when none has it (an empty key names none).
constexpr int columnAt(std::span<const Column> columns, std::string_view key) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!key.empty() && columns[i].key == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Whether a table too wide may leave the column out.
constexpr bool mayGo(const Column& column) {
    return column.fit == Fit::Drop || column.fit == Fit::DropPair;
}

// The place of the Drop column that goes with the DropPair column at `at`: the nearest Drop
// column of its kind to its left; -1 for none, or when the column at `at` is not DropPair.
constexpr int pairedWith(std::span<const Column> columns, std::size_t at) {
    if (columns[at].fit != Fit::DropPair) {
        return -1;
    }
    for (std::size_t j = at; j-- > 0;) {
        if (columns[j].fit == Fit::Drop && columns[j].kind == columns[at].kind) {
            return static_cast<int>(j);
        }
    }
    return -1;
}

// How the page draws a section, and the terminal a bar beside each row. Columns are named by
// their keys.
struct Chart {
    enum class Type : std::uint8_t { None, Bars, Lines };
    Type type = Type::None;
    std::string_view title{};
    std::string_view label{};    // the column that names a bar, or a step of the lines
    std::string_view first{};    // a bar per row of this column's values (or a line chart of them)
    std::string_view second{};   // and a second segment (or a second line chart); empty for none
    std::string_view text{};     // the column written after a bar; empty writes the bar's value
    bool replacesTable = false;  // people see the chart and not the rows
    // Lines over time: the column whose value, when not null, makes a row a collapsed stretch
    // of no traffic (a break in the lines), and the section whose rows' first times are marked
    // on the time axis when it has more than one (the starts of the databases).
    std::string_view gap{};
    std::string_view marks{};
};

// A raw value. Which members hold it depends on the kind of its column.
struct Cell {
    bool null = false;
    std::int64_t number = 0;           // integer kinds; a share's, ratio's or rate's part; an
                                       // end's port, -1 for none; a protocol's family
    std::int64_t whole = 0;            // a share's or ratio's whole; a rate's microseconds
    std::string text{};                // a text; the bytes of an address, or of an end's address
    std::vector<std::string> items{};  // a list's items
};
// A row's cells, in the order of its section's columns: Section::place finds a cell by its key.
using Row = std::vector<Cell>;

class AddressNames;

struct Section {
    std::string_view id;
    std::string title;
    std::string note;  // for people: what the rows are and how they are ordered
    std::span<const Column> columns;
    Chart chart;
    bool record = false;  // one row: the report's heading for people, an object in JSON
    std::span<const Column> factColumns;  // facts of the whole section, written before the rows
    Row facts;                            // in JSON, which then holds the rows as `rowsKey`
    std::string_view rowsKey;
    bool absent = false;      // no database recorded it: JSON null, not shown to people
    std::uint64_t total = 0;  // the rows before the cut
    std::uint64_t shown = 0;  // the rows kept
    // The columns chosen with --columns, in the order chosen: the only ones every output shows,
    // and people whole; empty for the section's own.
    std::vector<std::size_t> chosen;
    std::vector<std::size_t> rankedBy;  // the columns of the rows' order, never left out

    // Calls `visit` with each row kept, in order.
    void eachRow(const std::function<void(const Row&)>& visit) const;

    // The place of the column `key` in a row, -1 for none (a chart's column that it has not).
    int at(std::string_view key) const { return columnAt(columns, key); }
    // The place of the column `key` in a row, or of the fact `key` among the facts, which the
    // section must have: a std::logic_error otherwise, a fault of the code that names it.
    std::size_t place(std::string_view key) const;
    std::size_t factPlace(std::string_view key) const;
    // The columns that JSON and CSV write, in order: those chosen, else every one.
    std::vector<std::size_t> written() const;

    std::vector<Row> rows;             // rows made in memory, or
    std::shared_ptr<Statement> query;  // the statement that reads them from the store
    // The names of the addresses, for the columns of names (Column::nameOf); null when no
    // address has one, and people then see no column of names.
    const AddressNames* names = nullptr;
};

struct Report {
    std::size_t top = 0;
    TimeAxis axis;
    std::string subject;  // what the page's title names: the one database, or "3 databases"
    std::vector<Section> sections;

    const Section* find(std::string_view id) const;
};

}  // namespace tidewrack::report
