// Reading the two sides of a report.
#include "report/report_sides.h"

#include <sys/resource.h>

#include <algorithm>
#include <future>

namespace tidewrack::report {

namespace {

// How many databases of one side of the report stay open from the look at their dates to the
// read of their frames. An open connection holds a file and some 120 KiB (SQLite's lookaside and
// the schema), so sixteen are held, within half of what the file limit leaves (the baseline's
// side holds its own), and the rest are opened twice: the few databases of most reports are
// opened once, and a thousand cost no more memory than a handful.
std::size_t databasesHeldAtMost() {
    constexpr std::size_t held = 16;
    constexpr rlim_t spare = 64;
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur <= spare) {
        return 0;
    }
    return std::min(held, static_cast<std::size_t>((files.rlim_cur - spare) / 2));
}

}  // namespace

Side::Side(const std::vector<std::string>& paths, bool namesFirst)
    : paths(paths), namesFirst(namesFirst) {
    const std::size_t held = std::min(paths.size(), databasesHeldAtMost());
    std::vector<DatabaseDates> dates;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        DatabaseReader database(paths[i]);
        dates.push_back(database.dates());
        if (i < held || namesFirst) {
            database.readNames(names);
        }
        if (i < held) {
            open.push_back(std::move(database));
        }
    }
    timeAxis = TimeAxis::of(dates);
    names.settle();
}

void Side::filterBy(const FilterChoice& choice, const TimeAxis& zone,
                    const std::set<IpAddress>& named) {
    if (!choice.empty()) {
        filter.emplace(choice, timeAxis, zone);
        filter->nameAddresses(named);
    }
}

void Side::read(std::size_t budget, Progress& progress) {
    counts = std::make_unique<TrafficTally>(budget);
    const std::size_t held = open.size();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        DatabaseReader database = i < held ? std::move(open[i]) : DatabaseReader(paths[i]);
        database.read(*counts, progress, i + 1, paths.size(), timeAxis,
                      filter ? &*filter : nullptr);
        if (i >= held && !namesFirst) {
            database.readNames(names);
        }
    }
    open.clear();
    names.settle();
}

ReportSides::ReportSides(const ReportOptions& options)
    : options(options), traffic(options.databases, !options.filter.names.empty()) {
    if (!options.baselines.empty()) {
        baseline.emplace(options.baselines, !options.filter.names.empty());
    }
    std::set<IpAddress> named;
    for (const std::string& pattern : options.filter.names) {
        const bool matched = traffic.addressNames().addMatching(pattern, named);
        if (!(baseline && baseline->addressNames().addMatching(pattern, named)) && !matched) {
            unmatched.push_back(pattern);
        }
    }
    traffic.filterBy(options.filter, traffic.axis(), named);
    if (baseline) {
        baseline->filterBy(options.filter, traffic.axis(), named);
    }
}

std::string ReportSides::filterWords() const {
    std::string words = options.filter.words;
    for (const std::string& pattern : unmatched) {
        words += "; no name learnt matches " + pattern;
    }
    return words;
}

TallyStore& ReportSides::read(std::size_t budget, Progress& progress) {
    const std::size_t share = baseline ? budget / 2 : budget;
    std::future<void> earlier;
    if (baseline) {
        earlier = std::async(std::launch::async, [this, share] {
            Progress quiet(false);
            baseline->read(share, quiet);
            baseline->finish();
        });
    }
    traffic.read(share, progress);
    progress.section("putting the sections together");
    TallyStore& store = traffic.finish();
    if (baseline) {
        progress.section("reading the baseline");
        earlier.get();
    }
    // The names the databases hold are known once they are read: a protocol of none of them,
    // and of no table of tidewrack's, is a typo, refused before anything is written.
    options.filter.checkProtocolNames(
        {&traffic.tally().catalog, baseline ? &baseline->tally().catalog : nullptr});
    if (baseline) {
        traffic.tally().takeBaseline(baseline->tally(), baseline->databasePaths());
    }
    traffic.addressNames().writeServerNames(store, "server_name", traffic.axis());
    const AddressNames none;
    (baseline ? baseline->addressNames() : none)
        .writeServerNames(store, "baseline_server_name", traffic.axis());
    traffic.tally().deriveSections(options.states);
    return store;
}

}  // namespace tidewrack::report
