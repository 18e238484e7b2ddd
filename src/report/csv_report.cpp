// Writing a section's rows as CSV.
#include "report/csv_report.h"

#include "report/cell_text.h"
#include "report/escaped_text.h"

namespace tidewrack::report {

namespace {

std::string field(std::string_view value) {
    const std::string text = terminalText(value);
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
    for (std::size_t i = 0; i < section.columns.size(); ++i) {
        out << (i > 0 ? "," : "") << field(section.columns[i].key);
    }
    out << "\n";
    section.eachRow([&](const Row& row) {
        for (std::size_t i = 0; i < section.columns.size(); ++i) {
            out << (i > 0 ? "," : "") << field(csvValue(row[i], section.columns[i].kind, axis));
        }
        out << "\n";
    });
}

}  // namespace tidewrack::report
