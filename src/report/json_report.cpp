// Writing the sections as JSON members.
#include "report/json_report.h"

#include "report/cell_text.h"
#include "report/escaped_text.h"
#include "version.h"

namespace tidewrack::report {

namespace {

// The members of `row` in `order` (places among `columns`).
std::string object(std::span<const Column> columns, const std::vector<std::size_t>& order,
                   const Row& row, const TimeAxis& axis) {
    std::string json = "{";
    for (const std::size_t i : order) {
        json += (json.size() > 1 ? ", " : "") + jsonString(columns[i].key) + ": " +
                jsonValue(row[i], columns[i].kind, axis);
    }
    return json + "}";
}

std::vector<std::size_t> every(std::span<const Column> columns) {
    std::vector<std::size_t> all(columns.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
    }
    return all;
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
    const std::vector<std::size_t> written = section.written();
    section.eachRow([&](const Row& row) {
        out << separator << object(section.columns, written, row, axis);
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
            section.eachRow([&](const Row& row) {
                out << object(section.columns, section.written(), row, report.axis);
            });
        } else if (!section.factColumns.empty()) {
            const std::string facts =
                object(section.factColumns, every(section.factColumns), section.facts, report.axis);
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
