// The sections of the report, each declared once in section_declarations.cpp: its id, title
// and note, its columns, the query that reads its rows from the tally's store, how they are
// ordered and cut, and its chart. Every output shows every section from that one declaration.
//
// Lists are sorted by bytes, descending (port scans, which have no bytes of their own, by the
// ports probed; TCP states by conversations; failed connections by the SYNs sent, then the
// first; handshake times by their median, slowest first;
// changes by their size), ties broken by frames and then by the row's own key, so that the
// same databases always give the same report; the endpoints and conversations are ranked as
// --by says. Each list keeps its first `top` rows (all with 0) and says how many it had. The
// databases stay in the order given (in the order of their first times when every one records
// dates), and the timeline keeps every interval. The sections of what only the extended record
// holds (frames not analysed, VLANs) are absent when no database records them, or when a filter
// applies (they count frames that no filter can look at); those of what is new since a baseline are
// absent without one. Ports without a well-known service fold into one EPHEMERAL row of the UDP
// services; a TCP port that accepted a connection is always shown by its number, and one that
// only refused is no service (nor in the services by traffic). A ranking by rate ranks only
// what lasted the settings' time; --state keeps the conversations of its states only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_model.h"
#include "report/tally_store.h"

namespace tidewrack::report {

// How the endpoints and conversations are ranked: by bytes, frames, duration or mean rate in
// bits a second, each descending.
enum class Ranking : std::uint8_t { Bytes, Frames, Duration, Rate };
inline constexpr std::string_view rankingNames[] = {"bytes", "frames", "duration", "rate"};
inline constexpr std::int64_t defaultRateDuration = 1000000;

// The columns chosen for a section (--columns SECTION=KEY,...): their keys, in order.
struct ColumnChoice {
    std::string section;
    std::vector<std::string> keys;
};

struct ReportSettings {
    std::size_t top = 10;  // rows per list; 0 for all
    Ranking ranking = Ranking::Bytes;
    std::string filter;  // the filter that applied, as its options say it; empty for none
    // The TCP states whose conversations are kept (codes of tcpStates); empty keeps every
    // conversation.
    std::vector<std::string_view> states;
    // What a ranking by rate ranks by it: what lasted this many microseconds at least; the
    // rest follow it, by bytes.
    std::int64_t rateDuration = defaultRateDuration;
    std::vector<ColumnChoice> columns;
    // The names shown beside addresses (Column::nameOf); none without.
    const AddressNames* names = nullptr;
};

// The ids of the sections, in the report's order.
std::vector<std::string_view> sectionIds();

// The columns of the section `id`, in order; none for an id of no section.
std::span<const Column> sectionColumns(std::string_view id);

// The table of the store that holds the rows of a section derived by a GROUP BY (a Declaration's
// `derived`), made as its SQL says unless the tally has made it already (derived_sections.h);
// and the one that then holds, in its column n, the count that the section's aside says.
std::string derivedTable(std::string_view id);
std::string derivedAside(std::string_view id);

// The report of the counts in `store`, its times on `axis`, as `settings` say. Its sections
// read their rows from the store, which must outlive it.
Report buildReport(TallyStore& store, const ReportSettings& settings, const TimeAxis& axis);

}  // namespace tidewrack::report
