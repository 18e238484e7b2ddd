// Labels that the terminal and HTML reports put on the report's rows: the texts of times on
// the line of days, of intervals, of service ports, and of a section's "top N of M".
#pragma once

#include <cstdint>
#include <string>

#include "report/report_sections.h"
#include "report/text_format.h"

namespace tidewrack::report {

// The stored time of day, preceded by "day N " when the report reaches past day 0.
std::string timeLabel(const Report& report, std::int64_t time);

// The start of an interval, "hh:mm:ss" (with its day as above), and the width of the
// intervals: "1 s", "10 s", "1 min", "10 min", "1 h", "1 d", "10 d", "100 d"...
std::string intervalLabel(const Report& report, std::int64_t start);
std::string intervalWidth(const Report& report);

// A service row's port, or "*" for the ports folded into EPHEMERAL.
std::string portLabel(int port);

// "all 6", or "top 10 of 13".
template <typename Row>
std::string rankLabel(const Ranked<Row>& ranked) {
    return ranked.rows.size() == ranked.total
               ? "all " + groupDigits(ranked.total)
               : "top " + groupDigits(ranked.rows.size()) + " of " + groupDigits(ranked.total);
}

// "a to b" ends of a conversation: address:port for TCP and UDP, the address otherwise.
std::string endA(const ConversationRow& row);
std::string endB(const ConversationRow& row);

}  // namespace tidewrack::report
