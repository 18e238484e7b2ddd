// The run sequence of tidewrack-report.
//
// Every path is checked before any database is read; then the databases are opened one after
// the other, never attached (a report may span more databases than SQLite attaches at once),
// and each is checked and read in one pass into the one tally. The output file is written only
// at the end, whole, and put in place last: a run refused for any of its inputs, or failing to
// write any of its outputs, leaves no page.
#include "report/report_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "report/escaped_text.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "report/output_file.h"
#include "report/progress.h"
#include "report/report_error.h"
#include "report/report_options.h"
#include "report/report_sections.h"
#include "report/terminal_report.h"
#include "report/traffic_database.h"
#include "version.h"

namespace tidewrack::report {

namespace {

constexpr const char* programName = "tidewrack-report";

// A one-line message on standard error. Messages quote paths, command-line words and SQLite's
// error texts, which may hold anything, and standard error is often a terminal.
void complain(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", programName, terminalText(message).c_str());
}

// The width for the text tables: COLUMNS when set, else the terminal's, else no limit (the
// report goes to a file or a pipe).
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
    return 0;
}

// Refused before anything is read: a page path that names a directory, or one of the
// databases, which writing the page would destroy.
void checkOutputPath(const ReportOptions& options) {
    struct stat output {};
    if (options.htmlPath.empty() || stat(options.htmlPath.c_str(), &output) != 0) {
        return;
    }
    if (S_ISDIR(output.st_mode)) {
        throw ReportError(options.htmlPath + ": is a directory");
    }
    for (const std::string& path : options.databases) {
        struct stat input {};
        if (stat(path.c_str(), &input) == 0 && input.st_dev == output.st_dev &&
            input.st_ino == output.st_ino) {
            throw ReportError(options.htmlPath + ": is one of the databases; not overwritten");
        }
    }
}

void writeOut(const std::string& content) {
    if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
        std::fflush(stdout) != 0) {
        throw ReportError(std::string("standard output: ") + std::strerror(errno));
    }
}

int run(const ReportOptions& options) {
    checkOutputPath(options);
    for (const std::string& path : options.databases) {
        TrafficDatabase::checkFile(path);
    }
    Progress progress(isatty(STDERR_FILENO) != 0);
    TrafficTally tally;
    for (std::size_t i = 0; i < options.databases.size(); ++i) {
        TrafficDatabase(options.databases[i])
            .read(tally, progress, i + 1, options.databases.size());
    }
    progress.section("putting the sections together");
    const Report report = buildReport(tally, options.top);
    // The page takes the old one's place only once the JSON document is out as well, so that
    // a run that fails leaves no page behind.
    std::optional<OutputFile> page;
    if (!options.htmlPath.empty()) {
        progress.section("writing " + options.htmlPath);
        page.emplace(options.htmlPath);
        page->write(htmlReport(report));
    }
    progress.finish();
    if (options.json) {
        writeOut(jsonReport(report));
    } else if (!page) {
        writeOut(terminalReport(report, terminalWidth()));
    }
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
    if (options.help) {
        std::fputs(reportUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("tidewrack-report " TIDEWRACK_VERSION);
        return 0;
    }
    try {
        return run(options);
    } catch (const ReportError& error) {
        complain(error.what());
    } catch (const std::bad_alloc&) {
        complain("out of memory");
    }
    return 1;
}

}  // namespace tidewrack::report
