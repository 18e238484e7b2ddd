// Writing the report's sections as JSON members.
#include "report/json_report.h"

#include <cstdio>

#include "report/escaped_text.h"
#include "report/text_format.h"
#include "report/time_of_day.h"
#include "version.h"

namespace tidewrack::report {

namespace {

// One JSON object on one line, its members added in order.
class Object {
  public:
    Object& add(const char* name, const std::string& json) {
        text += (text.empty() ? "{" : ", ") + std::string("\"") + name + "\": " + json;
        return *this;
    }
    Object& add(const char* name, std::uint64_t n) { return add(name, std::to_string(n)); }
    Object& quoted(const char* name, std::string_view value) {
        return add(name, jsonString(value));
    }
    Object& counts(const Counts& c) { return add("frames", c.frames).add("bytes", c.bytes); }
    std::string done() const { return text.empty() ? "{}" : text + "}"; }

  private:
    std::string text;
};

std::string timeJson(std::int64_t time) {
    return time == unknownTime ? "null" : jsonString(formatTimeOfDay(time));
}

std::string durationJson(std::int64_t first, std::int64_t last) {
    return first == unknownTime ? "null" : formatSeconds(last - first);
}

std::string addressJson(std::uint32_t address) {
    return jsonString(formatAddress(address));
}

// A list of objects, one a line, indented under its member.
template <typename Rows, typename Make>
std::string list(const Rows& rows, Make make) {
    if (rows.empty()) {
        return "[]";
    }
    std::string json = "[\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        json += "    " + make(rows[i]).done() + (i + 1 < rows.size() ? ",\n" : "\n");
    }
    return json + "  ]";
}

Object bucket(const Timeline::Bucket& b) {
    return Object()
        .add("day", static_cast<std::uint64_t>(b.start / microsecondsPerDay))
        .quoted("start", formatTimeOfDay(b.start).substr(0, 8))
        .counts(b.counts);
}

std::string servicePort(int port) {
    return port == foldedPorts ? "null" : std::to_string(port);
}

}  // namespace

std::string jsonReport(const Report& r) {
    std::vector<std::pair<const char*, std::string>> members;
    members.emplace_back("generator", jsonString("tidewrack-report " TIDEWRACK_VERSION));
    members.emplace_back("top", std::to_string(r.top));
    members.emplace_back("databases", list(r.databases, [](const DatabaseSummary& d) {
                             return Object()
                                 .quoted("path", d.path)
                                 .add("mode", static_cast<std::uint64_t>(d.mode))
                                 .counts(d.counts)
                                 .add("first", timeJson(d.first))
                                 .add("last", timeJson(d.last))
                                 .add("duration", durationJson(d.first, d.last));
                         }));
    std::string names = "[";
    for (std::size_t i = 0; i < r.protocolNames.size(); ++i) {
        names += (i > 0 ? ", " : "") + jsonString(r.protocolNames[i]);
    }
    members.emplace_back(
        "summary", Object()
                       .counts(r.total)
                       .add("first", timeJson(r.first))
                       .add("last", timeJson(r.last))
                       .add("duration", durationJson(r.first, r.last))
                       .add("days", r.first == unknownTime ? 0 : r.last / microsecondsPerDay + 1)
                       .add("protocols", names + "]")
                       .add("endpoints", r.endpoints.total)
                       .add("conversations", r.conversations.total)
                       .done());
    members.emplace_back("protocols", list(r.protocols.rows, [](const ProtocolRow& p) {
                             return Object().quoted("name", p.name).counts(p.counts);
                         }));
    members.emplace_back("timeline",
                         "{\"interval\": " + std::to_string(r.interval / microsecondsPerSecond) +
                             ", \"buckets\": " + list(r.timeline, bucket) + "}");
    members.emplace_back("busiest_intervals", list(r.busiest.rows, bucket));
    members.emplace_back("endpoints", list(r.endpoints.rows, [](const EndpointRow& e) {
                             return Object()
                                 .add("address", addressJson(e.address))
                                 .add("frames_sent", e.counts.sent.frames)
                                 .add("bytes_sent", e.counts.sent.bytes)
                                 .add("frames_received", e.counts.received.frames)
                                 .add("bytes_received", e.counts.received.bytes);
                         }));
    members.emplace_back("conversations", list(r.conversations.rows, [](const ConversationRow& c) {
                             const auto end = [&](std::uint32_t address, std::uint16_t port) {
                                 return jsonString(c.hasPorts ? formatEnd(address, port)
                                                              : formatAddress(address));
                             };
                             return Object()
                                 .quoted("protocol", c.protocol)
                                 .add("a", end(c.key.a, c.key.portA))
                                 .add("b", end(c.key.b, c.key.portB))
                                 .add("frames_a_to_b", c.counts.aToB.frames)
                                 .add("bytes_a_to_b", c.counts.aToB.bytes)
                                 .add("frames_b_to_a", c.counts.bToA.frames)
                                 .add("bytes_b_to_a", c.counts.bToA.bytes)
                                 .add("first", timeJson(c.counts.first))
                                 .add("last", timeJson(c.counts.last))
                                 .add("duration", durationJson(c.counts.first, c.counts.last));
                         }));
    members.emplace_back("tcp_services", list(r.tcpServices.rows, [](const TcpServiceRow& s) {
                             return Object()
                                 .add("port", servicePort(s.port))
                                 .quoted("service", s.service)
                                 .add("connections", s.connections)
                                 .add("servers", s.servers)
                                 .counts(s.counts);
                         }));
    members.emplace_back("udp_services", list(r.udpServices.rows, [](const UdpServiceRow& s) {
                             return Object()
                                 .add("port", servicePort(s.port))
                                 .quoted("service", s.service)
                                 .counts(s.counts);
                         }));
    members.emplace_back("icmp_messages", list(r.icmpMessages.rows, [](const IcmpMessageRow& m) {
                             return Object()
                                 .add("type", m.type)
                                 .add("code", m.code)
                                 .quoted("message", m.message)
                                 .quoted("detail", m.detail)
                                 .counts(m.counts);
                         }));
    members.emplace_back(
        "port_scans", list(r.portScans.rows, [](const PortScanRow& s) {
            char share[16];
            std::snprintf(share, sizeof share, "%.4f",
                          static_cast<double>(s.answered) / static_cast<double>(s.ports));
            return Object()
                .add("source", addressJson(s.source))
                .add("target", addressJson(s.target))
                .add("ports", s.ports)
                .add("answered", s.answered)
                .add("answered_share", share)
                .add("open_ports",
                     std::string(1, '[').append(joinPorts(s.openPorts, ", ")).append("]"));
        }));
    members.emplace_back("icmp_errors", list(r.icmpErrors.rows, [](const IcmpErrorRow& e) {
                             return Object()
                                 .add("reporter", addressJson(e.reporter))
                                 .add("sent_to", addressJson(e.sentTo))
                                 .add("type", e.type)
                                 .add("code", e.code)
                                 .quoted("message", e.message)
                                 .quoted("detail", e.detail)
                                 .counts(e.counts);
                         }));
    members.emplace_back("unanswered_syns", list(r.unanswered.rows, [](const UnansweredRow& u) {
                             return Object()
                                 .add("source", addressJson(u.source))
                                 .add("destination", addressJson(u.destination))
                                 .add("port", u.port)
                                 .add("attempts", u.attempts)
                                 .counts(u.counts);
                         }));

    std::string json = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        json += "  " + jsonString(members[i].first) + ": " + members[i].second +
                (i + 1 < members.size() ? ",\n" : "\n");
    }
    return json + "}\n";
}

}  // namespace tidewrack::report
