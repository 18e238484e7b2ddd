// The row labels shared by the terminal and HTML reports.
#include "report/report_labels.h"

#include "report/text_format.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

bool spansDays(const Report& report) {
    return report.last >= microsecondsPerDay;
}

std::string dayPrefix(const Report& report, std::int64_t time) {
    return spansDays(report) ? "day " + std::to_string(time / microsecondsPerDay) + " " : "";
}

}  // namespace

std::string timeLabel(const Report& report, std::int64_t time) {
    if (time == unknownTime) {
        return "-";
    }
    return dayPrefix(report, time) + formatTimeOfDay(time);
}

std::string intervalLabel(const Report& report, std::int64_t start) {
    return dayPrefix(report, start) + formatTimeOfDay(start).substr(0, 8);
}

std::string intervalWidth(const Report& report) {
    const std::int64_t seconds = report.interval / microsecondsPerSecond;
    return seconds >= 86400  ? groupDigits(static_cast<std::uint64_t>(seconds / 86400)) + " d"
           : seconds >= 3600 ? std::to_string(seconds / 3600) + " h"
           : seconds >= 60   ? std::to_string(seconds / 60) + " min"
                             : std::to_string(seconds) + " s";
}

std::string portLabel(int port) {
    return port == foldedPorts ? "*" : std::to_string(port);
}

std::string endA(const ConversationRow& row) {
    return row.hasPorts ? formatEnd(row.key.a, row.key.portA) : formatAddress(row.key.a);
}

std::string endB(const ConversationRow& row) {
    return row.hasPorts ? formatEnd(row.key.b, row.key.portB) : formatAddress(row.key.b);
}

}  // namespace tidewrack::report
