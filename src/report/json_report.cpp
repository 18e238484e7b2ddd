// Writing the sections as the members of one JSON document. nlohmann/json serialises every key
// and value; this file lays the document out, a member of it a line and a row of a list a line.
#include "report/json_report.h"

#include <nlohmann/json.hpp>

#include "report/cell_text.h"
#include "version.h"

namespace tidewrack::report {

namespace {

using Json = nlohmann::ordered_json;

// Every byte written is ASCII: the library escapes the control characters (C0, DEL and C1) and
// each character beyond ASCII as \uXXXX, and writes U+FFFD for a byte that is not UTF-8, so
// that no text read from a database can act on a terminal that shows the document.
std::string serialised(const Json& value) {
    return value.dump(-1, ' ', true, Json::error_handler_t::replace);
}

// The members of `row` in `order` (places among `columns`).
Json object(std::span<const Column> columns, const std::vector<std::size_t>& order, const Row& row,
            const TimeAxis& axis) {
    Json json = Json::object();
    for (const std::size_t i : order) {
        json.emplace(std::string(columns[i].key), jsonValue(row[i], columns[i].kind, axis));
    }
    return json;
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
        out << separator << serialised(object(section.columns, written, row, axis));
        separator = ",\n    ";
    });
    out << "\n  ]";
}

}  // namespace

void jsonReport(const Report& report, TextSink& out) {
    out << "{\n  \"generator\": " << serialised("tidewrack-report " TIDEWRACK_VERSION)
        << ",\n  \"top\": " << serialised(report.top);
    for (const Section& section : report.sections) {
        out << ",\n  " << serialised(std::string(section.id)) << ": ";
        if (section.record) {
            section.eachRow([&](const Row& row) {
                out << serialised(object(section.columns, section.written(), row, report.axis));
            });
        } else if (!section.factColumns.empty()) {
            // The facts' object, left open for the rows' list as its last member.
            const std::string facts = serialised(object(
                section.factColumns, every(section.factColumns), section.facts, report.axis));
            out << facts.substr(0, facts.size() - 1) << ","
                << serialised(std::string(section.rowsKey)) << ":";
            list(section, report.axis, out);
            out << "}";
        } else {
            list(section, report.axis, out);
        }
    }
    out << "\n}\n";
}

}  // namespace tidewrack::report
