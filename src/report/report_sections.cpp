// Putting the tally in order: one function per section, and the ranking they share.
#include "report/report_sections.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>

#include "capture/icmp_texts.h"
#include "capture/service_tables.h"

namespace tidewrack::report {

namespace {

// Bytes, then frames, both descending: negative when `x` comes first, 0 when they tie.
int compareCounts(const Counts& x, const Counts& y) {
    if (x.bytes != y.bytes) {
        return x.bytes > y.bytes ? -1 : 1;
    }
    if (x.frames != y.frames) {
        return x.frames > y.frames ? -1 : 1;
    }
    return 0;
}

// Sorts the rows with `before` and keeps the first `top` of them (all with 0).
template <typename Row, typename Before>
Ranked<Row> rank(std::vector<Row> rows, std::size_t top, Before before) {
    Ranked<Row> ranked;
    ranked.total = rows.size();
    if (top != 0 && top < rows.size()) {
        std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(top), rows.end(),
                          before);
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(top), rows.end());
    } else {
        std::sort(rows.begin(), rows.end(), before);
    }
    ranked.rows = std::move(rows);
    return ranked;
}

// The ranking of rows by their `counts`, ties broken by `key`.
template <typename Row, typename Key>
auto byCounts(Key key) {
    return [key](const Row& x, const Row& y) {
        const int order = compareCounts(x.counts, y.counts);
        return order != 0 ? order < 0 : key(x) < key(y);
    };
}

Counts bothWays(const Counts& one, const Counts& other) {
    Counts sum = one;
    return sum += other;
}

Ranked<ProtocolRow> protocolRows(const TrafficTally& tally, const ProtocolCatalog& catalog,
                                 std::size_t top) {
    std::vector<ProtocolRow> rows;
    for (std::size_t n = 0; n < tally.protocols.size(); ++n) {
        if (tally.protocols[n].frames > 0) {
            rows.push_back({catalog.name(static_cast<std::uint16_t>(n)), tally.protocols[n]});
        }
    }
    return rank(
        std::move(rows), top,
        byCounts<ProtocolRow>([](const ProtocolRow& r) -> const std::string& { return r.name; }));
}

Ranked<EndpointRow> endpointRows(const TrafficTally& tally, std::size_t top) {
    std::vector<EndpointRow> rows;
    rows.reserve(tally.endpoints.size());
    for (const auto& [address, counts] : tally.endpoints) {
        rows.push_back({address, counts});
    }
    return rank(std::move(rows), top, [](const EndpointRow& x, const EndpointRow& y) {
        const int order = compareCounts(bothWays(x.counts.sent, x.counts.received),
                                        bothWays(y.counts.sent, y.counts.received));
        return order != 0 ? order < 0 : x.address < y.address;
    });
}

Ranked<ConversationRow> conversationRows(const TrafficTally& tally, const ProtocolCatalog& catalog,
                                         std::size_t top) {
    std::vector<ConversationRow> rows;
    rows.reserve(tally.conversations.size());
    for (const auto& [key, counts] : tally.conversations) {
        const ProtocolKind kind = catalog.kind(key.protocol);
        rows.push_back({catalog.name(key.protocol),
                        kind == ProtocolKind::Tcp || kind == ProtocolKind::Udp, key, counts});
    }
    return rank(std::move(rows), top, [](const ConversationRow& x, const ConversationRow& y) {
        const int order = compareCounts(bothWays(x.counts.aToB, x.counts.bToA),
                                        bothWays(y.counts.aToB, y.counts.bToA));
        return order != 0 ? order < 0
                          : std::tie(x.protocol, x.key.a, x.key.portA, x.key.b, x.key.portB) <
                                std::tie(y.protocol, y.key.a, y.key.portA, y.key.b, y.key.portB);
    });
}

bool wellKnown(const char* service) {
    return std::string_view(service) != ephemeralService;
}

// Every TCP conversation whose server answered SYN ACK is a connection accepted by the
// service on the server's port.
Ranked<TcpServiceRow> tcpServiceRows(const TrafficTally& tally, const ProtocolCatalog& catalog,
                                     std::size_t top) {
    struct Service {
        std::uint64_t connections = 0;
        std::vector<std::uint32_t> servers;
        Counts counts;
    };
    std::map<int, Service> services;
    for (const auto& [key, conversation] : tally.conversations) {
        if (catalog.kind(key.protocol) != ProtocolKind::Tcp) {
            continue;
        }
        const auto accepted = [&, &c = conversation](std::uint32_t server, std::uint16_t port) {
            Service& service = services[wellKnown(tcpServiceName(port)) ? port : foldedPorts];
            ++service.connections;
            service.servers.push_back(server);
            service.counts += bothWays(c.aToB, c.bToA);
        };
        if (conversation.handshake & SynAckFromA) {
            accepted(key.a, key.portA);
        }
        if (conversation.handshake & SynAckFromB) {
            accepted(key.b, key.portB);
        }
    }
    std::vector<TcpServiceRow> rows;
    for (auto& [port, service] : services) {
        std::sort(service.servers.begin(), service.servers.end());
        const auto distinct = std::unique(service.servers.begin(), service.servers.end());
        rows.push_back({port,
                        port == foldedPorts ? ephemeralService
                                            : tcpServiceName(static_cast<std::uint16_t>(port)),
                        service.connections,
                        static_cast<std::uint64_t>(distinct - service.servers.begin()),
                        service.counts});
    }
    return rank(std::move(rows), top,
                byCounts<TcpServiceRow>([](const TcpServiceRow& r) { return r.port; }));
}

Ranked<UdpServiceRow> udpServiceRows(const TrafficTally& tally, std::size_t top) {
    std::map<int, Counts> services;
    for (const auto& [port, counts] : tally.udpPorts) {
        services[wellKnown(udpServiceName(port)) ? port : foldedPorts] += counts;
    }
    std::vector<UdpServiceRow> rows;
    for (const auto& [port, counts] : services) {
        rows.push_back({port,
                        port == foldedPorts ? ephemeralService
                                            : udpServiceName(static_cast<std::uint16_t>(port)),
                        counts});
    }
    return rank(std::move(rows), top,
                byCounts<UdpServiceRow>([](const UdpServiceRow& r) { return r.port; }));
}

Ranked<IcmpMessageRow> icmpMessageRows(const TrafficTally& tally, std::size_t top) {
    std::vector<IcmpMessageRow> rows;
    for (const auto& [typeAndCode, counts] : tally.icmpMessages) {
        const auto type = static_cast<std::uint8_t>(typeAndCode >> 8);
        const auto code = static_cast<std::uint8_t>(typeAndCode & 0xFF);
        const IcmpTexts texts = icmpTexts(type, code);
        rows.push_back({type, code, std::string(texts.type), std::string(texts.code), counts});
    }
    return rank(std::move(rows), top, byCounts<IcmpMessageRow>([](const IcmpMessageRow& r) {
                    return std::pair(r.type, r.code);
                }));
}

// A source that sent SYNs to at least portScanThreshold distinct ports of one target.
Ranked<PortScanRow> portScanRows(const TrafficTally& tally, const ProtocolCatalog& catalog,
                                 std::size_t top) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::pair<std::uint16_t, bool>>>
        probes;  // (source, target) -> (port, answered) per attempt
    for (const auto& [key, conversation] : tally.conversations) {
        if (catalog.kind(key.protocol) != ProtocolKind::Tcp) {
            continue;
        }
        if (conversation.handshake & SynFromA) {
            probes[{key.a, key.b}].emplace_back(key.portB,
                                                (conversation.handshake & SynAckFromB) != 0);
        }
        if (conversation.handshake & SynFromB) {
            probes[{key.b, key.a}].emplace_back(key.portA,
                                                (conversation.handshake & SynAckFromA) != 0);
        }
    }
    std::vector<PortScanRow> rows;
    for (auto& [pair, attempts] : probes) {
        // Answered first among the attempts at one port, so that the first of each port tells.
        std::sort(attempts.begin(), attempts.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first < y.first : x.second > y.second;
        });
        PortScanRow row{pair.first, pair.second, 0, 0, {}};
        for (std::size_t i = 0; i < attempts.size(); ++i) {
            if (i > 0 && attempts[i].first == attempts[i - 1].first) {
                continue;
            }
            ++row.ports;
            if (attempts[i].second) {
                ++row.answered;
                row.openPorts.push_back(attempts[i].first);
            }
        }
        if (row.ports >= portScanThreshold) {
            rows.push_back(std::move(row));
        }
    }
    return rank(std::move(rows), top, [](const PortScanRow& x, const PortScanRow& y) {
        return std::tie(y.ports, x.source, x.target) < std::tie(x.ports, y.source, y.target);
    });
}

Ranked<IcmpErrorRow> icmpErrorRows(const TrafficTally& tally, std::size_t top) {
    std::vector<IcmpErrorRow> rows;
    for (const auto& [key, counts] : tally.icmpErrors) {
        const auto type = static_cast<std::uint8_t>(key.typeAndCode >> 8);
        const auto code = static_cast<std::uint8_t>(key.typeAndCode & 0xFF);
        const IcmpTexts texts = icmpTexts(type, code);
        rows.push_back({key.reporter, key.sentTo, type, code, std::string(texts.type),
                        std::string(texts.code), counts});
    }
    return rank(std::move(rows), top, byCounts<IcmpErrorRow>([](const IcmpErrorRow& r) {
                    return std::tie(r.reporter, r.sentTo, r.type, r.code);
                }));
}

// A TCP conversation in which one side sent SYN and the other side sent nothing at all.
Ranked<UnansweredRow> unansweredRows(const TrafficTally& tally, const ProtocolCatalog& catalog,
                                     std::size_t top) {
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint16_t>, UnansweredRow> attempts;
    const auto attempt = [&](std::uint32_t source, std::uint32_t destination, std::uint16_t port,
                             const Counts& sent) {
        UnansweredRow& row = attempts
                                 .try_emplace({source, destination, port},
                                              UnansweredRow{source, destination, port, 0, {}})
                                 .first->second;
        ++row.attempts;
        row.counts += sent;
    };
    for (const auto& [key, conversation] : tally.conversations) {
        if (catalog.kind(key.protocol) != ProtocolKind::Tcp) {
            continue;
        }
        if ((conversation.handshake & SynFromA) && conversation.bToA.frames == 0) {
            attempt(key.a, key.b, key.portB, conversation.aToB);
        }
        if ((conversation.handshake & SynFromB) && conversation.aToB.frames == 0) {
            attempt(key.b, key.a, key.portA, conversation.bToA);
        }
    }
    std::vector<UnansweredRow> rows;
    for (const auto& [key, row] : attempts) {
        rows.push_back(row);
    }
    return rank(std::move(rows), top, byCounts<UnansweredRow>([](const UnansweredRow& r) {
                    return std::tie(r.source, r.destination, r.port);
                }));
}

}  // namespace

Report buildReport(const TrafficTally& tally, std::size_t top) {
    const ProtocolCatalog& catalog = tally.catalog;
    Report report;
    report.top = top;
    for (const DatabaseSummary& database : tally.databases) {
        report.total += database.counts;
        if (database.first != unknownTime &&
            (report.first == unknownTime || database.first < report.first)) {
            report.first = database.first;
        }
        report.last = std::max(report.last, database.last);
    }
    report.databases = tally.databases;
    for (std::size_t n = 0; n < tally.protocols.size(); ++n) {
        if (tally.protocols[n].frames > 0) {
            report.protocolNames.push_back(catalog.name(static_cast<std::uint16_t>(n)));
        }
    }
    std::sort(report.protocolNames.begin(), report.protocolNames.end());

    report.protocols = protocolRows(tally, catalog, top);
    report.interval = tally.timeline.interval();
    report.timeline = tally.timeline.buckets();
    std::vector<Timeline::Bucket> busy;
    std::copy_if(report.timeline.begin(), report.timeline.end(), std::back_inserter(busy),
                 [](const Timeline::Bucket& b) { return b.counts.frames > 0; });
    report.busiest =
        rank(std::move(busy), top,
             byCounts<Timeline::Bucket>([](const Timeline::Bucket& b) { return b.start; }));
    report.endpoints = endpointRows(tally, top);
    report.conversations = conversationRows(tally, catalog, top);
    report.tcpServices = tcpServiceRows(tally, catalog, top);
    report.udpServices = udpServiceRows(tally, top);
    report.icmpMessages = icmpMessageRows(tally, top);
    report.portScans = portScanRows(tally, catalog, top);
    report.icmpErrors = icmpErrorRows(tally, top);
    report.unanswered = unansweredRows(tally, catalog, top);
    return report;
}

}  // namespace tidewrack::report
