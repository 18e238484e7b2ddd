// Writing the sections as JSON members.
#include "report/json_report.h"

#include "report/cell_text.h"
#include "report/escaped_text.h"
#include "version.h"

namespace tidewrack::report {

namespace {

std::string object(std::span<const Column> columns, const Row& row, const TimeAxis& axis) {
    std::string json = "{";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        json += (i > 0 ? ", " : "") + jsonString(columns[i].key) + ": " +
                jsonValue(row[i], columns[i].kind, axis);
    }
    return json + "}";
}

void list(const Section& section, const TimeAxis& axis, TextSink& out) {
    if (section.absent) {
        out << "null";
        return;
    }
    if (section.shown == 0) {
        out << "[]";
        return;
    }
    const char* separator = "[\n    ";
    section.eachRow([&](const Row& row) {
        out << separator << object(section.columns, row, axis);
        separator = ",\n    ";
    });
    out << "\n  ]";
}

}  // namespace

void jsonReport(const Report& report, TextSink& out) {
    out << "{\n  \"generator\": " << jsonString("tidewrack-report " TIDEWRACK_VERSION)
        << ",\n  \"top\": " << std::to_string(report.top);
    for (const Section& section : report.sections) {
        out << ",\n  " << jsonString(section.id) << ": ";
        if (section.record) {
            section.eachRow(
                [&](const Row& row) { out << object(section.columns, row, report.axis); });
        } else if (!section.factColumns.empty()) {
            const std::string facts = object(section.factColumns, section.facts, report.axis);
            out << facts.substr(0, facts.size() - 1) << ", " << jsonString(section.rowsKey) << ": ";
            list(section, report.axis, out);
            out << "}";
        } else {
            list(section, report.axis, out);
        }
    }
    out << "\n}\n";
}

}  // namespace tidewrack::report
