// Writing a section's rows as CSV.
#include "report/csv_report.h"

#include <cstring>

#include "report/cell_text.h"
#include "report/escaped_text.h"

namespace tidewrack::report {

namespace {

// A field of a text kind, or of a number. A spreadsheet reads a field that starts with '=',
// '+', '-' or '@' (or a tab or a carriage return, which the terminal's filter has turned into
// '?' already) as a formula, which may fetch or run what a crafted name says: such a text is
// written after a single quote, as OWASP advises for CSV exports. A number stays as it is, a
// negative one too.
std::string field(std::string_view value, bool isText) {
    std::string text = terminalText(value);
    if (isText && !text.empty() && std::strchr("=+-@\t\r", text.front()) != nullptr) {
        text.insert(0, 1, '\'');
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + '"';
}

}  // namespace

void csvReport(const Section& section, const TimeAxis& axis, TextSink& out) {
    const std::vector<std::size_t> written = section.written();
    for (const std::size_t i : written) {
        out << (i != written.front() ? "," : "") << field(section.columns[i].key, true);
    }
    out << "\n";
    section.eachRow([&](const Row& row) {
        for (const std::size_t i : written) {
            const Kind kind = section.columns[i].kind;
            out << (i != written.front() ? "," : "")
                << field(csvValue(row[i], kind, axis), !isNumber(kind));
        }
        out << "\n";
    });
}

}  // namespace tidewrack::report
