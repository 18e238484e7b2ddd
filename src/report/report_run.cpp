// The run sequence of tidewrack-report.
//
// Every path is checked before any database is read; then the databases are opened one after
// the other, never attached (a report may span more databases than SQLite attaches at once).
// What each says of its dates is read first, to choose the time axis; then each is read in one
// pass into the one tally, through the filter when one is given, by the connection that read
// its dates when it was kept open. The databases of a baseline are read the same way, into a
// tally of their own, in a thread of their own beside the others, so that a baseline as large
// as the traffic costs little more time; the two tallies share the memory budget. The output
// file is written only at the end, whole, and put in place last: a run refused for any of its
// inputs, or failing to write any of its outputs, leaves no page.
#include "report/report_run.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <optional>

#include "files/file_identity.h"
#include "report/csv_report.h"
#include "report/database_reader.h"
#include "report/escaped_text.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "report/output_file.h"
#include "report/progress.h"
#include "report/report_error.h"
#include "report/report_options.h"
#include "report/report_sections.h"
#include "report/terminal_report.h"
#include "report/text_sink.h"
#include "report/traffic_tally.h"
#include "version.h"

namespace tidewrack::report {

namespace {

constexpr const char* programName = "tidewrack-report";

// A one-line message on standard error. Messages quote paths, command-line words and SQLite's
// error texts, which may hold anything, and standard error is often a terminal.
void complain(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", programName, terminalText(message).c_str());
}

// The width of the text: COLUMNS when set, else the terminal's, else 80 (the report goes to a
// file or a pipe).
std::size_t terminalWidth() {
    if (const char* columns = std::getenv("COLUMNS")) {
        const long n = std::strtol(columns, nullptr, 10);
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
    }
    winsize size{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

// The budget of the tally's hash maps: TIDEWRACK_REPORT_MEMORY KiB, or the default.
std::size_t tallyBudget() {
    const char* kib = std::getenv("TIDEWRACK_REPORT_MEMORY");
    if (kib == nullptr || *kib == '\0') {
        return TrafficTally::defaultBudget;
    }
    char* end = nullptr;
    const unsigned long long n = std::strtoull(kib, &end, 10);
    if (*kib < '0' || *kib > '9' || *end != '\0' || n == 0 || n > (1ull << 40)) {
        throw ReportError(std::string("TIDEWRACK_REPORT_MEMORY takes a number of KiB, not '") +
                          kib + "'");
    }
    return static_cast<std::size_t>(n) * 1024;
}

// Refused before anything is read: a page path that names a directory, one of the databases or
// of the baseline's, or the journal, write-ahead log or shared memory that SQLite keeps beside
// one, there or not yet, which writing the page would destroy, and with them what a writer
// committed.
void checkOutputPath(const ReportOptions& options) {
    if (options.htmlPath.empty()) {
        return;
    }
    std::vector<std::string> inputs = options.databases;
    inputs.insert(inputs.end(), options.baselines.begin(), options.baselines.end());
    for (const std::string& path : inputs) {
        if (isDatabaseCompanion(options.htmlPath.c_str(), path.c_str())) {
            throw ReportError(options.htmlPath + ": is a file SQLite keeps beside " + path +
                              "; not overwritten");
        }
    }
    struct stat output {};
    if (stat(options.htmlPath.c_str(), &output) != 0) {
        return;
    }
    if (S_ISDIR(output.st_mode)) {
        throw ReportError(options.htmlPath + ": is a directory");
    }
    for (const std::string& path : inputs) {
        struct stat input {};
        if (stat(path.c_str(), &input) == 0 && input.st_dev == output.st_dev &&
            input.st_ino == output.st_ino) {
            throw ReportError(options.htmlPath + ": is one of the databases; not overwritten");
        }
    }
}

void writeOut(std::string_view content) {
    if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
        std::fflush(stdout) != 0) {
        throw ReportError(std::string("standard output: ") + std::strerror(errno));
    }
}

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

// The databases of one side of the report. What each says of its dates decides the time axis
// before any frame is read, and the connection that read them then reads the frames, so that a
// database is opened once; past the few held open, a database is closed after its dates and
// opened again for its frames.
class Databases {
  public:
    explicit Databases(const std::vector<std::string>& paths) : paths(paths) {
        const std::size_t held = std::min(paths.size(), databasesHeldAtMost());
        std::vector<DatabaseDates> dates;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            DatabaseReader database(paths[i]);
            dates.push_back(database.dates());
            if (i < held) {
                open.push_back(std::move(database));
            }
        }
        timeAxis = TimeAxis::of(dates);
    }

    const TimeAxis& axis() const { return timeAxis; }

    // Reads every database into `tally`, each frame through `filter` when there is one, and
    // closes each once read.
    void read(TrafficTally& tally, Progress& progress, std::optional<FrameFilter>& filter) {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            DatabaseReader database =
                i < open.size() ? std::move(open[i]) : DatabaseReader(paths[i]);
            database.read(tally, progress, i + 1, paths.size(), timeAxis,
                          filter ? &*filter : nullptr);
        }
        open.clear();
    }

  private:
    const std::vector<std::string>& paths;
    std::vector<DatabaseReader> open;
    TimeAxis timeAxis;
};

int run(const ReportOptions& options, std::size_t budget) {
    checkOutputPath(options);
    for (const auto* paths : {&options.databases, &options.baselines}) {
        for (const std::string& path : *paths) {
            DatabaseReader::checkFile(path);
        }
    }
    Progress progress(isatty(STDERR_FILENO) != 0);
    // What each database says of its dates decides the time axis before any frame is read; the
    // baseline's databases have an axis of their own, its points of time told in the zone of
    // the report's.
    Databases databases(options.databases);
    const TimeAxis& axis = databases.axis();
    const bool baseline = !options.baselines.empty();
    std::optional<Databases> baselineDatabases;
    if (baseline) {
        baselineDatabases.emplace(options.baselines);
    }
    const TimeAxis baselineAxis = baseline ? baselineDatabases->axis() : TimeAxis{};
    std::optional<FrameFilter> filter, baselineFilter;
    if (!options.filter.empty()) {
        filter.emplace(options.filter, axis, axis);
        if (baseline) {
            baselineFilter.emplace(options.filter, baselineAxis, axis);
        }
    }
    const std::size_t share = baseline ? budget / 2 : budget;
    std::future<std::unique_ptr<TrafficTally>> baselineTally;
    if (baseline) {
        baselineTally = std::async(std::launch::async, [&] {
            auto tally = std::make_unique<TrafficTally>(share);
            Progress quiet(false);
            baselineDatabases->read(*tally, quiet, baselineFilter);
            tally->finish(baselineAxis);
            return tally;
        });
    }
    TrafficTally tally(share);
    databases.read(tally, progress, filter);
    progress.section("putting the sections together");
    TallyStore& store = tally.finish(axis);
    std::unique_ptr<TrafficTally> baselineCounts;
    if (baseline) {
        progress.section("reading the baseline");
        baselineCounts = baselineTally.get();
    }
    // The names the databases hold are known once they are read: a protocol of none of them,
    // and of no table of tidewrack's, is a typo, refused before anything is written.
    options.filter.checkProtocolNames(
        {&tally.catalog, baselineCounts.get() == nullptr ? nullptr : &baselineCounts->catalog});
    if (baseline) {
        tally.takeBaseline(*baselineCounts, options.baselines);
    }
    const ReportSettings settings{options.top, options.ranking, options.filter.words};
    const Report report = buildReport(store, settings, axis);
    // The page takes the old one's place only once what goes to standard output is out as
    // well, so that a run that fails leaves no page behind.
    std::optional<OutputFile> page;
    if (!options.htmlPath.empty()) {
        progress.section("writing " + options.htmlPath);
        page.emplace(options.htmlPath);
        TextSink file([&](std::string_view piece) { page->write(piece); });
        htmlReport(report, file);
        file.flush();
        page->close();
    }
    progress.section("writing the report");
    TextSink out(writeOut);
    if (options.json) {
        jsonReport(report, out);
    } else if (!options.csv.empty()) {
        csvReport(*report.find(options.csv), report.axis, out);
    } else if (!page) {
        terminalReport(report, terminalWidth(), out);
    }
    progress.finish();
    out.flush();
    if (page) {
        page->commit();
    }
    return 0;
}

}  // namespace

int runReport(int argc, char** argv) {
    ReportOptions options;
    try {
        options = parseReportOptions(argc, argv);
    } catch (const ReportError& error) {
        complain(error.what());
        return 2;
    }
    // What needs no database: written as a report is, so that a failed write is a failure.
    if (options.help || options.version || options.csv == "list") {
        std::string text;
        if (options.help) {
            text = reportUsage();
        } else if (options.version) {
            text = "tidewrack-report " TIDEWRACK_VERSION "\n";
        } else {
            for (const std::string_view id : sectionIds()) {
                text.append(id).append("\n");
            }
        }
        try {
            writeOut(text);
        } catch (const ReportError& error) {
            complain(error.what());
            return 1;
        }
        return 0;
    }
    std::size_t budget = 0;
    try {
        budget = tallyBudget();
    } catch (const ReportError& error) {
        complain(error.what());
        return 2;
    }
    try {
        return run(options, budget);
    } catch (const UsageError& error) {
        complain(error.what());
        return 2;
    } catch (const ReportError& error) {
        complain(error.what());
    } catch (const std::bad_alloc&) {
        complain("out of memory");
    }
    return 1;
}

}  // namespace tidewrack::report
