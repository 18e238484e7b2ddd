// What a report reads: the traffic's side and, with --baseline, the baseline's, the earlier
// traffic it is set against. A side is its databases, the filter their frames pass and the
// tally they are counted in.
//
// What each database of a side says of its dates decides the side's time axis before any frame
// is read (the baseline's points of time are told in the zone of the traffic's axis); then each
// database is read in one pass into the side's tally, through the filter when one is given, by
// the connection that read its dates when it was kept open. The baseline's side is read in a
// thread of its own beside the traffic's, so that a baseline as large as the traffic costs
// little more time; the two tallies share the memory budget.
//
// The names each side's databases learnt (address_names.h) are read while each is open: with
// their dates, before any frame, when the filter has --host names, which stand for the
// addresses those names were learnt for on either side; else those of the databases held open
// with their dates and the others' with their frames. The traffic's names are shown beside its
// addresses. A --host name that matches no name of any database is no error: it selects no
// frame, and the filter's words say so.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "report/address_names.h"
#include "report/database_reader.h"
#include "report/frame_filter.h"
#include "report/progress.h"
#include "report/report_options.h"
#include "report/tally_store.h"
#include "report/time_axis.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

class Side {
  public:
    // Reads what each database says of its dates; the first few stay open for their frames.
    // The names of those are read then too, and those of the others as their frames are read,
    // or with their dates as well when `namesFirst` (a filter needs them).
    Side(const std::vector<std::string>& paths, bool namesFirst);
    Side(const Side&) = delete;
    Side& operator=(const Side&) = delete;

    const TimeAxis& axis() const { return timeAxis; }
    const std::vector<std::string>& databasePaths() const { return paths; }
    const AddressNames& addressNames() const { return names; }

    // Frames pass the filter of `choice` when it has one, its points told in `zone`'s zone.
    void filterBy(const FilterChoice& choice, const TimeAxis& zone,
                  const std::set<IpAddress>& named);
    // Reads every database into a new tally of `budget` bytes, and closes each once read.
    void read(std::size_t budget, Progress& progress);
    // Adds the tally up into its store; the store holds the counts from then on.
    TallyStore& finish() { return counts->finish(timeAxis); }
    TrafficTally& tally() { return *counts; }

  private:
    const std::vector<std::string>& paths;
    std::vector<DatabaseReader> open;
    TimeAxis timeAxis;
    AddressNames names;
    bool namesFirst = false;
    std::optional<FrameFilter> filter;
    std::unique_ptr<TrafficTally> counts;
};

class ReportSides {
  public:
    // Both sides' dates read, then their filters made, as `options` give them.
    explicit ReportSides(const ReportOptions& options);

    // The report's time axis: the traffic's.
    const TimeAxis& axis() const { return traffic.axis(); }
    // The names shown beside the traffic's addresses.
    const AddressNames& names() const { return traffic.addressNames(); }
    // The filter's words, and after them the --host names that matched no name learnt.
    std::string filterWords() const;

    // Reads both sides, each tally within its share of `budget`, refuses a protocol name that
    // the filter gives and no table knows, and returns the store the sections read: the
    // traffic's, the baseline's endpoints and server ends copied in, and the server names of
    // both sides (server_name, baseline_server_name).
    TallyStore& read(std::size_t budget, Progress& progress);

  private:
    const ReportOptions& options;
    Side traffic;
    std::optional<Side> baseline;
    std::vector<std::string> unmatched;  // --host names that matched no name
};

}  // namespace tidewrack::report
