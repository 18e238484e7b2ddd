// Writing each section of the report as a heading and a text table.
#include "report/terminal_report.h"

#include <algorithm>

#include "report/escaped_text.h"
#include "report/report_labels.h"
#include "report/text_format.h"
#include "report/text_table.h"

namespace tidewrack::report {

namespace {

using Align = TextTable::Align;
using Column = TextTable::Column;

constexpr std::size_t barWidth = 24;

Column label(std::string title, bool cuttable = false) {
    return {std::move(title), Align::Left, false, cuttable};
}
Column number(std::string title, bool droppable = false) {
    return {std::move(title), Align::Right, droppable, false};
}
Column optional(std::string title, Align align = Align::Left) {
    return {std::move(title), align, true, false};
}

std::string bar(std::uint64_t part, std::uint64_t whole) {
    return std::string(whole == 0 ? 0 : (part * barWidth + whole / 2) / whole, '#');
}

class Writer {
  public:
    Writer(const Report& report, std::size_t width) : report(report), width(width) {}

    // A heading, with the rank of the rows when there are any, then the table or "none".
    template <typename Row>
    void section(const std::string& title, const Ranked<Row>& ranked, const std::string& order,
                 const TextTable& table) {
        if (ranked.rows.empty()) {
            out += '\n' + title + "\n  none\n";
        } else {
            out += '\n' + title + " (" + rankLabel(ranked) + ", by " + order + ")\n" +
                   table.render(width);
        }
    }

    void summary();
    void protocols();
    void timeline();
    void endpoints();
    void conversations();
    void services();
    void worthALook();

    const Report& report;
    std::size_t width;
    std::string out;
};

void Writer::summary() {
    const std::size_t n = report.databases.size();
    out += "Traffic report: " + std::to_string(n) + (n == 1 ? " database, " : " databases, ") +
           groupDigits(report.total.frames) + " frames, " + groupDigits(report.total.bytes) +
           " bytes";
    if (report.first != unknownTime) {
        out += ", " + timeLabel(report, report.first) + " to " + timeLabel(report, report.last) +
               " (" + formatDuration(report.last - report.first) + ")";
    }
    out += "\nProtocols seen: ";
    for (std::size_t i = 0; i < report.protocolNames.size(); ++i) {
        out += (i > 0 ? ", " : "") + terminalText(report.protocolNames[i]);
    }
    out += report.protocolNames.empty() ? "none\n" : "\n";

    TextTable table({label("database", true), number("mode"), number("frames"), number("bytes"),
                     optional("first"), optional("last"), number("duration", true)});
    for (const DatabaseSummary& d : report.databases) {
        table.addRow({d.path, std::to_string(d.mode), groupDigits(d.counts.frames),
                      groupDigits(d.counts.bytes), timeLabel(report, d.first),
                      timeLabel(report, d.last),
                      d.first == unknownTime ? "-" : formatDuration(d.last - d.first)});
    }
    out += "\nDatabases\n" + table.render(width);
}

void Writer::protocols() {
    TextTable table({label("protocol", true), number("frames"), number("bytes"), number("share"),
                     optional("")});
    for (const ProtocolRow& p : report.protocols.rows) {
        table.addRow({p.name, groupDigits(p.counts.frames), groupDigits(p.counts.bytes),
                      formatShare(p.counts.bytes, report.total.bytes),
                      bar(p.counts.bytes, report.total.bytes)});
    }
    section("Protocol mix", report.protocols, "bytes", table);
}

void Writer::timeline() {
    std::uint64_t busiest = 0;
    for (const Timeline::Bucket& b : report.busiest.rows) {
        busiest = std::max(busiest, b.counts.bytes);
    }
    TextTable table({label("interval"), number("frames"), number("bytes"), optional("")});
    for (const Timeline::Bucket& b : report.busiest.rows) {
        table.addRow({intervalLabel(report, b.start), groupDigits(b.counts.frames),
                      groupDigits(b.counts.bytes), bar(b.counts.bytes, busiest)});
    }
    section("Traffic over time: " + std::to_string(report.timeline.size()) +
                (report.timeline.size() == 1 ? " interval of " : " intervals of ") +
                intervalWidth(report) + "; the busiest",
            report.busiest, "bytes", table);
}

void Writer::endpoints() {
    TextTable table({label("address"), number("frames sent", true), number("bytes sent"),
                     number("frames received", true), number("bytes received")});
    for (const EndpointRow& e : report.endpoints.rows) {
        table.addRow({formatAddress(e.address), groupDigits(e.counts.sent.frames),
                      groupDigits(e.counts.sent.bytes), groupDigits(e.counts.received.frames),
                      groupDigits(e.counts.received.bytes)});
    }
    section("Endpoints", report.endpoints, "bytes sent and received", table);
}

void Writer::conversations() {
    TextTable table({label("protocol", true), label("a"), label("b"), number("frames a>b"),
                     number("bytes a>b"), number("frames b>a"), number("bytes b>a"),
                     optional("first"), optional("duration", Align::Right)});
    for (const ConversationRow& c : report.conversations.rows) {
        table.addRow(
            {c.protocol, endA(c), endB(c), groupDigits(c.counts.aToB.frames),
             groupDigits(c.counts.aToB.bytes), groupDigits(c.counts.bToA.frames),
             groupDigits(c.counts.bToA.bytes), timeLabel(report, c.counts.first),
             c.counts.first == unknownTime ? "-" : formatDuration(c.counts.last - c.counts.first)});
    }
    section("Conversations", report.conversations, "bytes", table);
}

void Writer::services() {
    TextTable tcp({number("port"), label("service", true), number("connections"), number("servers"),
                   number("frames"), number("bytes")});
    for (const TcpServiceRow& s : report.tcpServices.rows) {
        tcp.addRow({portLabel(s.port), s.service, groupDigits(s.connections),
                    groupDigits(s.servers), groupDigits(s.counts.frames),
                    groupDigits(s.counts.bytes)});
    }
    section("TCP services that accepted connections", report.tcpServices, "bytes", tcp);

    TextTable udp({number("port"), label("service", true), number("frames"), number("bytes")});
    for (const UdpServiceRow& s : report.udpServices.rows) {
        udp.addRow({portLabel(s.port), s.service, groupDigits(s.counts.frames),
                    groupDigits(s.counts.bytes)});
    }
    section("UDP services by destination port", report.udpServices, "bytes", udp);

    TextTable icmp({number("type"), number("code"), label("message", true), label("detail", true),
                    number("frames"), number("bytes")});
    for (const IcmpMessageRow& m : report.icmpMessages.rows) {
        icmp.addRow({std::to_string(m.type), std::to_string(m.code), m.message,
                     m.detail == m.message ? "" : m.detail, groupDigits(m.counts.frames),
                     groupDigits(m.counts.bytes)});
    }
    section("ICMP messages", report.icmpMessages, "bytes", icmp);
}

void Writer::worthALook() {
    TextTable scans({label("source"), label("target"), number("ports"), number("answered"),
                     number("share"), label("open ports", true)});
    for (const PortScanRow& s : report.portScans.rows) {
        scans.addRow({formatAddress(s.source), formatAddress(s.target), groupDigits(s.ports),
                      groupDigits(s.answered), formatShare(s.answered, s.ports),
                      s.openPorts.empty() ? "-" : joinPorts(s.openPorts, ",")});
    }
    section("Port scans: SYN to " + std::to_string(portScanThreshold) +
                " or more ports of one target",
            report.portScans, "ports", scans);

    TextTable errors({label("reported by"), label("sent to"), label("message", true),
                      label("detail", true), number("frames"), number("bytes")});
    for (const IcmpErrorRow& e : report.icmpErrors.rows) {
        errors.addRow({formatAddress(e.reporter), formatAddress(e.sentTo), e.message, e.detail,
                       groupDigits(e.counts.frames), groupDigits(e.counts.bytes)});
    }
    section("ICMP errors", report.icmpErrors, "bytes", errors);

    TextTable unanswered({label("source"), label("destination"), number("attempts"),
                          number("frames"), number("bytes")});
    for (const UnansweredRow& u : report.unanswered.rows) {
        unanswered.addRow({formatAddress(u.source), formatEnd(u.destination, u.port),
                           groupDigits(u.attempts), groupDigits(u.counts.frames),
                           groupDigits(u.counts.bytes)});
    }
    section("TCP connection attempts never answered", report.unanswered, "bytes", unanswered);
}

}  // namespace

std::string terminalReport(const Report& report, std::size_t width) {
    Writer writer(report, width);
    writer.summary();
    writer.protocols();
    writer.timeline();
    writer.endpoints();
    writer.conversations();
    writer.services();
    writer.worthALook();
    return writer.out;
}

}  // namespace tidewrack::report
