// Writing the report's sections as HTML sections, tables and charts.
#include "report/html_report.h"

#include <algorithm>

#include "report/escaped_text.h"
#include "report/report_labels.h"
#include "report/svg_charts.h"
#include "report/text_format.h"
#include "version.h"

namespace tidewrack::report {

namespace {

constexpr const char* style = R"(
:root { --ink: #1d2733; --muted: #5b6775; --rule: #d5dbe1; --bar: #2f6f9f; --bar2: #e08a2c; }
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif;
       color: var(--ink); margin: 0 auto; padding: 24px 32px; max-width: 1200px; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 32px 0 8px; padding-bottom: 4px; border-bottom: 2px solid var(--rule); }
h3 { font-size: 15px; margin: 20px 0 6px; }
p.note, header p { color: var(--muted); margin: 4px 0 10px; }
.figures { display: flex; flex-wrap: wrap; gap: 12px; margin: 12px 0; padding: 0; }
.figures div { border: 1px solid var(--rule); border-radius: 6px; padding: 8px 14px; min-width: 120px; }
.figures dt { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.figures dd { margin: 0; font-size: 20px; font-weight: 600; font-variant-numeric: tabular-nums; }
table { border-collapse: collapse; margin: 6px 0 12px; font-size: 13px; font-variant-numeric: tabular-nums; }
th, td { padding: 3px 8px; border-bottom: 1px solid var(--rule); text-align: left; white-space: nowrap; }
th { font-size: 12px; color: var(--muted); font-weight: 600; }
td.n, th.n { text-align: right; }
tbody tr:nth-child(even) { background: #f5f7f9; }
svg.chart { display: block; margin: 8px 0 12px; max-width: 100%; height: auto; }
svg.chart text { font-size: 12px; fill: var(--ink); }
svg.chart .bar { fill: var(--bar); }
svg.chart .second { fill: var(--bar2); }
svg.chart .grid { stroke: var(--rule); stroke-width: 1; }
svg.chart .line { fill: none; stroke: var(--bar); stroke-width: 1.5; }
svg.chart .area { fill: var(--bar); fill-opacity: .15; }
svg.chart .point { fill: var(--bar); }
footer { margin-top: 40px; color: var(--muted); font-size: 12px; }
@media print {
  body { padding: 0; max-width: none; font-size: 11px; }
  h2 { break-after: avoid; }
  tr, svg.chart, .figures { break-inside: avoid; }
  th, td { white-space: normal; padding: 2px 5px; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

struct Cell {
    std::string text;
    bool numeric = false;
};

Cell n(std::uint64_t value) {
    return {groupDigits(value), true};
}
Cell n(std::string text) {
    return {std::move(text), true};
}
Cell t(std::string text) {
    return {std::move(text), false};
}

class Table {
  public:
    explicit Table(std::vector<Cell> headings) : headings(std::move(headings)) {}
    void add(std::vector<Cell> cells) { rows.push_back(std::move(cells)); }

    // The table under a note on its rows, or the `none` note when it has none.
    std::string html(const std::string& note, const char* none) const {
        if (rows.empty()) {
            return std::string("<p class=\"note\">") + none + "</p>\n";
        }
        std::string out = note.empty() ? "" : "<p class=\"note\">" + htmlText(note) + "</p>\n";
        out += "<table><thead><tr>";
        for (const Cell& h : headings) {
            out += (h.numeric ? "<th class=\"n\">" : "<th>") + htmlText(h.text) + "</th>";
        }
        out += "</tr></thead><tbody>\n";
        for (const auto& row : rows) {
            out += "<tr>";
            for (const Cell& c : row) {
                out += (c.numeric ? "<td class=\"n\">" : "<td>") + htmlText(c.text) + "</td>";
            }
            out += "</tr>\n";
        }
        return out + "</tbody></table>\n";
    }

  private:
    std::vector<Cell> headings;
    std::vector<std::vector<Cell>> rows;
};

std::string heading(const char* id, const std::string& title) {
    return std::string("<section id=\"") + id + "\">\n<h2>" + htmlText(title) + "</h2>\n";
}

std::string figure(const char* id, const char* name, const std::string& value) {
    return std::string("<div><dt>") + name + "</dt><dd id=\"" + id + "\">" + htmlText(value) +
           "</dd></div>";
}

std::string summary(const Report& r) {
    std::string html = heading("summary", "Summary");
    html += "<dl class=\"figures\">" + figure("frames", "Frames", groupDigits(r.total.frames)) +
            figure("bytes", "Bytes", groupDigits(r.total.bytes)) +
            figure("duration", "Duration",
                   r.first == unknownTime ? "-" : formatDuration(r.last - r.first)) +
            figure("endpoints", "Endpoints", groupDigits(r.endpoints.total)) +
            figure("conversations", "Conversations", groupDigits(r.conversations.total)) +
            "</dl>\n";
    std::string names;
    for (const std::string& name : r.protocolNames) {
        names += (names.empty() ? "" : ", ") + name;
    }
    html += "<p>Protocols seen: " + htmlText(names.empty() ? "none" : names) + "</p>\n";
    Table table(
        {t("database"), n("mode"), n("frames"), n("bytes"), t("first"), t("last"), n("duration")});
    for (const DatabaseSummary& d : r.databases) {
        table.add({t(d.path), n(std::to_string(d.mode)), n(d.counts.frames), n(d.counts.bytes),
                   t(timeLabel(r, d.first)), t(timeLabel(r, d.last)),
                   n(d.first == unknownTime ? "-" : formatDuration(d.last - d.first))});
    }
    return html + "<h3>Databases</h3>\n" + table.html("", "") + "</section>\n";
}

std::string protocols(const Report& r) {
    std::string html = heading("protocols", "Protocol mix");
    std::vector<Bar> bars;
    Table table({t("protocol"), n("frames"), n("bytes"), n("share of bytes")});
    for (const ProtocolRow& p : r.protocols.rows) {
        bars.push_back({p.name, p.counts.bytes, 0, formatShare(p.counts.bytes, r.total.bytes)});
        table.add({t(p.name), n(p.counts.frames), n(p.counts.bytes),
                   n(formatShare(p.counts.bytes, r.total.bytes))});
    }
    if (!bars.empty()) {
        html += barChart("Bytes per protocol", bars);
    }
    return html + table.html(rankLabel(r.protocols) + ", by bytes", "No frames.") + "</section>\n";
}

std::string timeline(const Report& r) {
    std::string html = heading("timeline", "Traffic over time");
    std::vector<std::uint64_t> frames, bytes;
    std::vector<std::string> labels;
    for (const Timeline::Bucket& b : r.timeline) {
        frames.push_back(b.counts.frames);
        bytes.push_back(b.counts.bytes);
        labels.push_back(intervalLabel(r, b.start));
    }
    const std::string width = intervalWidth(r);
    if (!r.timeline.empty()) {
        html += "<p class=\"note\">" + std::to_string(r.timeline.size()) +
                (r.timeline.size() == 1 ? " interval of " : " intervals of ") + width +
                "</p>\n<h3>Bytes per " + width + "</h3>\n" +
                lineChart("Bytes per " + width, bytes, labels) + "<h3>Frames per " + width +
                "</h3>\n" + lineChart("Frames per " + width, frames, labels);
    }
    Table table({t("interval"), n("frames"), n("bytes")});
    for (const Timeline::Bucket& b : r.busiest.rows) {
        table.add({t(intervalLabel(r, b.start)), n(b.counts.frames), n(b.counts.bytes)});
    }
    return html + "<h3>Busiest intervals</h3>\n" +
           table.html(rankLabel(r.busiest) + ", by bytes", "No frames with a known time.") +
           "</section>\n";
}

std::string endpoints(const Report& r) {
    std::string html = heading("endpoints", "Endpoints");
    std::vector<Bar> bars;
    Table table({t("address"), n("frames sent"), n("bytes sent"), n("frames received"),
                 n("bytes received")});
    for (const EndpointRow& e : r.endpoints.rows) {
        bars.push_back({formatAddress(e.address), e.counts.sent.bytes, e.counts.received.bytes,
                        groupDigits(e.counts.sent.bytes + e.counts.received.bytes)});
        table.add({t(formatAddress(e.address)), n(e.counts.sent.frames), n(e.counts.sent.bytes),
                   n(e.counts.received.frames), n(e.counts.received.bytes)});
    }
    if (!bars.empty()) {
        html += barChart("Bytes sent and received per endpoint", bars,
                         {"bytes sent", "bytes received"});
    }
    return html +
           table.html(rankLabel(r.endpoints) + ", by bytes sent and received", "No endpoints.") +
           "</section>\n";
}

std::string conversations(const Report& r) {
    std::string html = heading("conversations", "Conversations");
    Table table({t("protocol"), t("a"), t("b"), n("frames a\u2192b"), n("bytes a\u2192b"),
                 n("frames b\u2192a"), n("bytes b\u2192a"), t("first"), t("last"), n("duration")});
    for (const ConversationRow& c : r.conversations.rows) {
        const bool known = c.counts.first != unknownTime;
        table.add({t(c.protocol), t(endA(c)), t(endB(c)), n(c.counts.aToB.frames),
                   n(c.counts.aToB.bytes), n(c.counts.bToA.frames), n(c.counts.bToA.bytes),
                   t(timeLabel(r, c.counts.first)), t(timeLabel(r, c.counts.last)),
                   n(known ? formatDuration(c.counts.last - c.counts.first) : "-")});
    }
    return html +
           table.html(rankLabel(r.conversations) + ", by bytes; a is the lower end",
                      "No conversations.") +
           "</section>\n";
}

std::string services(const Report& r) {
    std::string html = heading("services", "Services");
    Table tcp({n("port"), t("service"), n("connections"), n("servers"), n("frames"), n("bytes")});
    for (const TcpServiceRow& s : r.tcpServices.rows) {
        tcp.add({n(portLabel(s.port)), t(s.service), n(s.connections), n(s.servers),
                 n(s.counts.frames), n(s.counts.bytes)});
    }
    Table udp({n("port"), t("service"), n("frames"), n("bytes")});
    for (const UdpServiceRow& s : r.udpServices.rows) {
        udp.add({n(portLabel(s.port)), t(s.service), n(s.counts.frames), n(s.counts.bytes)});
    }
    Table icmp({n("type"), n("code"), t("message"), t("detail"), n("frames"), n("bytes")});
    for (const IcmpMessageRow& m : r.icmpMessages.rows) {
        icmp.add({n(std::to_string(m.type)), n(std::to_string(m.code)), t(m.message),
                  t(m.detail == m.message ? "" : m.detail), n(m.counts.frames), n(m.counts.bytes)});
    }
    return html + "<h3>TCP services that accepted connections</h3>\n" +
           tcp.html(rankLabel(r.tcpServices) +
                        ", by bytes; * is every port without a well-known service",
                    "No TCP connection was accepted.") +
           "<h3>UDP services by destination port</h3>\n" +
           udp.html(rankLabel(r.udpServices) + ", by bytes", "No UDP traffic.") +
           "<h3>ICMP messages</h3>\n" +
           icmp.html(rankLabel(r.icmpMessages) + ", by bytes", "No ICMP traffic.") + "</section>\n";
}

std::string worthALook(const Report& r) {
    std::string html = heading("worth-a-look", "Things worth a look");
    Table scans({t("source"), t("target"), n("ports"), n("answered"), n("share"), t("open ports")});
    for (const PortScanRow& s : r.portScans.rows) {
        const std::string open = joinPorts(s.openPorts, ", ");
        scans.add({t(formatAddress(s.source)), t(formatAddress(s.target)), n(s.ports),
                   n(s.answered), n(formatShare(s.answered, s.ports)),
                   t(open.empty() ? "-" : open)});
    }
    Table errors(
        {t("reported by"), t("sent to"), t("message"), t("detail"), n("frames"), n("bytes")});
    for (const IcmpErrorRow& e : r.icmpErrors.rows) {
        errors.add({t(formatAddress(e.reporter)), t(formatAddress(e.sentTo)), t(e.message),
                    t(e.detail), n(e.counts.frames), n(e.counts.bytes)});
    }
    Table unanswered({t("source"), t("destination"), n("attempts"), n("frames"), n("bytes")});
    for (const UnansweredRow& u : r.unanswered.rows) {
        unanswered.add({t(formatAddress(u.source)), t(formatEnd(u.destination, u.port)),
                        n(u.attempts), n(u.counts.frames), n(u.counts.bytes)});
    }
    return html + "<h3>Port scans</h3>\n" +
           scans.html("Sources that sent SYN to " + std::to_string(portScanThreshold) +
                          " or more ports of one target; " + rankLabel(r.portScans) + ", by ports",
                      "No port scan.") +
           "<h3>ICMP errors</h3>\n" +
           errors.html(rankLabel(r.icmpErrors) + ", by bytes", "No ICMP error.") +
           "<h3>TCP connection attempts never answered</h3>\n" +
           unanswered.html(rankLabel(r.unanswered) + ", by bytes", "No attempt went unanswered.") +
           "</section>\n";
}

}  // namespace

std::string htmlReport(const Report& r) {
    const std::size_t count = r.databases.size();
    const std::string what = std::to_string(count) + (count == 1 ? " database" : " databases");
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta name=\"generator\" content=\"tidewrack-report " TIDEWRACK_VERSION "\">\n"
        "<title>Traffic report: " +
        htmlText(count == 1 ? r.databases.front().path : what) + "</title>\n<style>" + style +
        "</style>\n</head>\n<body>\n<header>\n<h1>Traffic report</h1>\n<p>" + what + ", " +
        groupDigits(r.total.frames) + " frames, " + groupDigits(r.total.bytes) +
        " bytes</p>\n</header>\n";
    html += summary(r) + protocols(r) + timeline(r) + endpoints(r) + conversations(r) +
            services(r) + worthALook(r);
    return html + "<footer>Made by tidewrack-report " TIDEWRACK_VERSION
                  " from databases written by tidewrack.</footer>\n</body>\n</html>\n";
}

}  // namespace tidewrack::report
