// Reading tidewrack-report's command line with getopt_long, which reports nothing itself here:
// every mistake becomes one ReportError.
#include "report/report_options.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "report/report_error.h"
#include "report/report_sections.h"
#include "report/tcp_states.h"

namespace tidewrack::report {

namespace {

constexpr const char* shortOptions = ":t:o:jc:b:m:s:H:p:P:f:T:i:B:C:hV";

// One option a line, as the usage text has them.
// clang-format off
constexpr option longOptions[] = {
    {"top", required_argument, nullptr, 't'},
    {"output", required_argument, nullptr, 'o'},
    {"json", no_argument, nullptr, 'j'},
    {"csv", required_argument, nullptr, 'c'},
    {"by", required_argument, nullptr, 'b'},
    {"min-duration", required_argument, nullptr, 'm'},
    {"state", required_argument, nullptr, 's'},
    {"host", required_argument, nullptr, 'H'},
    {"port", required_argument, nullptr, 'p'},
    {"protocol", required_argument, nullptr, 'P'},
    {"from", required_argument, nullptr, 'f'},
    {"to", required_argument, nullptr, 'T'},
    {"id", required_argument, nullptr, 'i'},
    {"baseline", required_argument, nullptr, 'B'},
    {"columns", required_argument, nullptr, 'C'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// clang-format on

std::size_t rowCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno != 0) {
        throw ReportError(std::string("--top needs a number of rows (0 for all), not '") + text +
                          "'");
    }
    return static_cast<std::size_t>(n);
}

// A list of names for a message: "a, b, c".
std::string listed(const std::vector<std::string_view>& names) {
    std::string text;
    for (const std::string_view name : names) {
        text.append(text.empty() ? "" : ", ").append(name);
    }
    return text;
}

// --min-duration's seconds, to the microsecond: digits, perhaps with a fraction.
std::int64_t rateDuration(const char* text) {
    const std::string_view value(text);
    const std::size_t point = value.find('.');
    const std::string_view whole = value.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : value.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 9 || fraction.size() > 6 || !digits(whole) ||
        !digits(fraction) || (point != std::string_view::npos && fraction.empty())) {
        throw ReportError(std::string("--min-duration needs seconds (1, 0.5), not '") + text + "'");
    }
    std::int64_t microseconds = std::stoll(std::string(whole)) * 1000000;
    std::int64_t scale = 100000;
    for (const char c : fraction) {
        microseconds += (c - '0') * scale;
        scale /= 10;
    }
    return microseconds;
}

// --state's codes, a comma between two, added to `states` each once.
void addStates(std::vector<std::string_view>& states, std::string_view list) {
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(',', start);
        end = end == std::string_view::npos ? list.size() : end;
        const std::string_view code = list.substr(start, end - start);
        const auto found = std::find_if(tcpStates.begin(), tcpStates.end(),
                                        [&](const TcpState& s) { return s.code == code; });
        if (found == tcpStates.end()) {
            std::vector<std::string_view> codes;
            for (const TcpState& s : tcpStates) {
                codes.push_back(s.code);
            }
            throw ReportError("--state takes TCP states (" + listed(codes) + "), not '" +
                              std::string(code) + "'");
        }
        if (std::find(states.begin(), states.end(), found->code) == states.end()) {
            states.push_back(found->code);
        }
        start = end + 1;
    }
}

// SECTION=KEY,...: a section and keys of its columns, each once.
ColumnChoice columnChoice(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        throw ReportError("--columns takes SECTION=KEY,... (--columns list names them), not '" +
                          std::string(text) + "'");
    }
    ColumnChoice choice{std::string(text.substr(0, equals)), {}};
    const std::span<const Column> columns = sectionColumns(choice.section);
    if (columns.empty()) {
        throw ReportError("--columns: no section '" + choice.section +
                          "'; the sections: " + listed(sectionIds()));
    }
    std::vector<std::string_view> keys;
    for (const Column& column : columns) {
        keys.push_back(column.key);
    }
    for (std::size_t start = equals + 1;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string key(text.substr(start, comma - start));
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            throw ReportError("--columns: " + choice.section + " has no column '" + key +
                              "'; its columns: " + listed(keys));
        }
        if (std::find(choice.keys.begin(), choice.keys.end(), key) != choice.keys.end()) {
            throw ReportError("--columns: " + choice.section + " names " + key + " twice");
        }
        choice.keys.push_back(key);
        if (comma == text.size()) {
            return choice;
        }
        start = comma + 1;
    }
}

}  // namespace

const char* reportUsage() {
    return "Usage: tidewrack-report [options] DATABASE...\n"
           "Reports the traffic that tidewrack recorded in one or more databases (mode 1 or 2),\n"
           "read together as one body of traffic.\n"
           "\n"
           "  -t, --top <n>          rows per list (default 10, 0 for every row)\n"
           "  -o, --output <file>    write the report as one HTML page to <file>\n"
           "  -j, --json             write the report as JSON to standard output\n"
           "  -c, --csv <section>    write one section as CSV to standard output\n"
           "                         (--csv list names the sections)\n"
           "  -b, --by <order>       rank endpoints and conversations by bytes (the default),\n"
           "                         frames, duration or rate\n"
           "  -m, --min-duration <s> rank by rate only what lasted <s> seconds or more\n"
           "                         (default 1); the rest follow, by bytes\n"
           "  -s, --state <codes>    only the TCP conversations in these states: S0, REJ, S1,\n"
           "                         SF, S2, S3, RSTO, RSTR, OTH (a comma between two)\n"
           "  -C, --columns <section>=<key>,...\n"
           "                         show these columns of a section, in this order, in every\n"
           "                         output (--columns list names each section's)\n"
           "\n"
           "Only the frames that pass every filter given (repeats of one are alternatives):\n"
           "  -H, --host <address>   to or from an address or prefix (10.0.0.5, 2001:db8::/32),\n"
           "                         or the addresses of a name learnt (www.example.com, or\n"
           "                         *.example.com for the domain and its subdomains; -x)\n"
           "  -p, --port <n>         to or from TCP or UDP port n\n"
           "  -P, --protocol <name>  of the protocol so named (TCP, UDP, ICMP, ...)\n"
           "  -f, --from <time>      at or after a time: HH:MM[:SS[.ffffff]] of every day, or\n"
           "                         YYYY-MM-DD HH:MM[:SS[.ffffff]] (databases made with -x)\n"
           "  -T, --to <time>        before a time, as --from\n"
           "  -i, --id <community-id>  the connection of that Community ID (databases read\n"
           "                         from their connection record, made with -x)\n"
           "\n"
           "  -B, --baseline <db>    a database of earlier traffic: report what is new since\n"
           "                         (repeat it for more)\n"
           "\n"
           "  -h, --help             display this help\n"
           "  -V, --version          display the version\n"
           "\n"
           "Without -o, -j or -c the report is printed as text, fitted to the terminal.\n";
}

ReportOptions parseReportOptions(int argc, char** argv) {
    ReportOptions options;
    optind = 0;  // a fresh scan, also when options were read before in this process
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, shortOptions, longOptions, nullptr)) != -1) {
        switch (c) {
        case 't': options.top = rowCount(optarg); break;
        case 'o':
            if (*optarg == '\0') {
                throw ReportError("-o needs a file name");
            }
            options.htmlPath = optarg;
            break;
        case 'j': options.json = true; break;
        case 'c':
            if (*optarg == '\0') {
                throw ReportError("--csv needs a section (--csv list names them)");
            }
            options.csv = optarg;
            break;
        case 'b': {
            const auto* found = std::find(std::begin(rankingNames), std::end(rankingNames),
                                          std::string_view(optarg));
            if (found == std::end(rankingNames)) {
                throw ReportError(std::string("--by takes bytes, frames, duration or rate, not '") +
                                  optarg + "'");
            }
            options.ranking = static_cast<Ranking>(found - std::begin(rankingNames));
            break;
        }
        case 'm': options.rateDuration = rateDuration(optarg); break;
        case 's': addStates(options.states, optarg); break;
        case 'H': options.filter.add("host", optarg); break;
        case 'p': options.filter.add("port", optarg); break;
        case 'P': options.filter.add("protocol", optarg); break;
        case 'f': options.filter.add("from", optarg); break;
        case 'T': options.filter.add("to", optarg); break;
        case 'i': options.filter.add("id", optarg); break;
        case 'B':
            if (*optarg == '\0') {
                throw ReportError("--baseline needs a database");
            }
            options.baselines.emplace_back(optarg);
            break;
        case 'C':
            if (std::string_view(optarg) == "list") {
                options.listColumns = true;
                break;
            }
            options.columns.push_back(columnChoice(optarg));
            break;
        case 'h': options.help = true; break;
        case 'V': options.version = true; break;
        case ':': throw ReportError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            throw ReportError(std::string("unknown option ") +
                              (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                           : std::string(argv[optind - 1])));
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.databases.emplace_back(argv[i]);
    }
    options.filter.check();
    if (!options.csv.empty()) {
        const auto ids = sectionIds();
        if (options.csv != "list" && std::find(ids.begin(), ids.end(), options.csv) == ids.end()) {
            throw ReportError("--csv takes a section, not '" + options.csv +
                              "' (--csv list names them)");
        }
        if (options.json) {
            throw ReportError("--csv and --json both write to standard output: give one");
        }
    }
    if (!options.help && !options.version && options.csv != "list" && !options.listColumns &&
        options.databases.empty()) {
        throw ReportError("no database given (try --help)");
    }
    return options;
}

}  // namespace tidewrack::report
