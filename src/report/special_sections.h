// The sections whose declaration cannot say everything: each says the rest in a function of its
// own, called once its rows (if any) are known.
//   the databases: the note names those whose capture ended in a read error, with libpcap's
//     text, and those whose time goes back;
//   the summary: the report's one record, its figures added up from every database, its active
//     time and the rates over it, how the baseline is compared, and the report's subject and
//     its span over days;
//   the timeline: the width of its intervals, the idle gaps it collapsed and the peaks over a
//     second, as facts of the whole section;
//   the changes since the baseline: whether they are measured by rates, and over which times.
#pragma once

#include "report/report_model.h"
#include "report/report_sections.h"
#include "report/tally_store.h"

namespace tidewrack::report {

void completeDatabases(Section& section, TallyStore& store, Report& report,
                       const ReportSettings& settings);
void completeSummary(Section& section, TallyStore& store, Report& report,
                     const ReportSettings& settings);
void completeTimeline(Section& section, TallyStore& store, Report& report,
                      const ReportSettings& settings);
void completeChanges(Section& section, TallyStore& store, Report& report,
                     const ReportSettings& settings);

}  // namespace tidewrack::report
