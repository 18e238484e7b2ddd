// The sections of the report, each declared once in report_sections.cpp: its id, title and
// note, its columns, the query that reads its rows from the tally's store, how they are
// ordered and cut, and its chart. Every output shows every section from that one declaration.
//
// Lists are sorted by bytes, descending (port scans, which have no bytes of their own, by the
// ports probed), ties broken by frames and then by the row's own key, so that the same
// databases always give the same report; each list keeps its first `top` rows (all with 0) and
// says how many it had. The databases stay in the order given (in the order of their first
// times when every one records dates), and the timeline keeps every interval. The sections of
// what only the extended record holds (frames not analysed, VLANs) are absent when no database
// records them. Ports without a well-known service fold into one EPHEMERAL row of the service
// lists.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "report/report_model.h"
#include "report/tally_store.h"

namespace tidewrack::report {

// The ids of the sections, in the report's order.
std::vector<std::string_view> sectionIds();

// The report of the counts in `store`, its times on `axis`, each list cut to `top` rows (0 for
// all). Its sections read their rows from the store, which must outlive it.
Report buildReport(TallyStore& store, std::size_t top, const TimeAxis& axis);

}  // namespace tidewrack::report
