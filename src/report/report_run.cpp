// The run sequence of tidewrack-report.
//
// Every path is checked before any database is read; then the databases are opened one after
// the other, never attached (a report may span more databases than SQLite attaches at once),
// and read into the tallies of the report's sides (report_sides.h). The output file is written
// only at the end, whole, and put in place last: a run refused for any of its inputs, or failing
// to write any of its outputs, leaves no page.
#include "report/report_run.h"

#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "report/report_sides.h"
#include "report/terminal_report.h"
#include "report/text_sink.h"
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

int run(const ReportOptions& options, std::size_t budget) {
    checkOutputPath(options);
    for (const auto* paths : {&options.databases, &options.baselines}) {
        for (const std::string& path : *paths) {
            DatabaseReader::checkFile(path);
        }
    }
    Progress progress(isatty(STDERR_FILENO) != 0);
    ReportSides sides(options);
    TallyStore& store = sides.read(budget, progress);
    const ReportSettings settings{options.top,    options.ranking,      sides.filterWords(),
                                  options.states, options.rateDuration, options.columns,
                                  &sides.names()};
    const Report report = buildReport(store, settings, sides.axis());
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

// Each SQLite connection of the report is used by one thread only (the baseline's tally, in a
// thread of its own, has connections of its own), so none needs the mutex that guards a
// connection shared between threads; and SQLite need not count the memory it takes, which costs
// a global mutex on every allocation. Both can only be set before SQLite starts: a library that
// has started already keeps its settings, which are only slower.
void configureSqlite() {
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
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
    if (options.help || options.version || options.csv == "list" || options.listColumns) {
        std::string text;
        if (options.help) {
            text = reportUsage();
        } else if (options.version) {
            text = "tidewrack-report " TIDEWRACK_VERSION "\n";
        } else if (options.listColumns) {
            for (const std::string_view id : sectionIds()) {
                text.append(id);
                for (const Column& column : sectionColumns(id)) {
                    text.append(&column == sectionColumns(id).data() ? "=" : ",")
                        .append(column.key);
                }
                text.append("\n");
            }
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
    configureSqlite();
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
