// The command line of tidewrack-report:
//
//   tidewrack-report [-t N | --top N] [-o FILE | --output FILE]
//                    [-j | --json | -c SECTION | --csv SECTION] [-b ORDER | --by ORDER]
//                    [-m SECONDS | --min-duration SECONDS] [-s STATE,... | --state STATE,...]
//                    [-H ADDR[/PREFIX] | --host ...] [-p N | --port N] [-P NAME | --protocol NAME]
//                    [-f TIME | --from TIME] [-T TIME | --to TIME] [-B DB | --baseline DB]
//                    [-C SECTION=KEY,... | --columns SECTION=KEY,...] DATABASE...
//   tidewrack-report -c list | --csv list | -C list | --columns list
//   tidewrack-report -h | --help
//   tidewrack-report -V | --version
//
// Without -o, -j or -c the report goes to standard output as text; -o writes the HTML page to
// FILE, and -j the JSON document or -c one section's CSV to standard output (not both); -o
// goes with either. The filter's options and --baseline may be repeated (frame_filter.h), and
// --columns once for each section (a later choice for a section replaces an earlier one).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report/frame_filter.h"
#include "report/report_sections.h"

namespace tidewrack::report {

struct ReportOptions {
    std::size_t top = 10;  // rows per list; 0 for all
    std::string htmlPath;  // empty for none
    bool json = false;
    std::string csv;  // a section's id, "list" for the ids, or empty for none
    bool help = false;
    bool version = false;
    Ranking ranking = Ranking::Bytes;
    std::vector<std::string_view> states;             // --state: codes of tcpStates, each once
    std::int64_t rateDuration = defaultRateDuration;  // --min-duration, in microseconds
    FilterChoice filter;
    std::vector<std::string> baselines;  // the databases of the earlier traffic
    std::vector<ColumnChoice> columns;
    bool listColumns = false;  // --columns list: each section's columns, as --columns takes them
    std::vector<std::string> databases;
};

// The options of a command line; a wrong one is a ReportError that says what is wrong.
ReportOptions parseReportOptions(int argc, char** argv);

// The help text, ending with a newline.
const char* reportUsage();

}  // namespace tidewrack::report
