// Grouping the conversations of a tally that stayed within its budget into the rows of the
// sections that group them, by sorting lists of small records.
#include "report/derived_sections.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "report/conversation_facts.h"
#include "report/report_sections.h"
#include "vocabulary/service_tables.h"

namespace tidewrack::report {

namespace {

using ServiceName = const char* (*)(std::uint16_t);

// One end that answered a SYN, in the handshake times: its conversation, the time and whether
// the client sent SYN more than once.
struct Handshake {
    const ConversationKey* key;
    std::int64_t time;
    std::uint8_t server;  // the server's end: 0 for a, 1 for b
    bool retried;

    const IpAddress& address() const { return server == 0 ? key->a : key->b; }
    std::uint16_t port() const { return server == 0 ? key->portA : key->portB; }
};

// The server end of a conversation of TCP or UDP, in the services by traffic.
struct ServerEnd {
    const IpAddress* address;
    Counts counts;
    std::uint16_t name;  // the first protocol number of its protocol's name
    std::uint16_t port;
    bool tcp;
    bool accepted;  // it sent SYN ACK
    bool refused;   // its conversation's state is REJ
};

// A server end that accepted a connection (sent SYN ACK), in the TCP services; or a source's
// attempt that was never answered, in the connection attempts.
struct EndTraffic {
    const IpAddress* address;
    const IpAddress* other;  // the attempt's destination; null for an accepting end
    Counts counts;
    std::uint16_t port;
};

// A SYN from a source to a port of a target, in the port scans, and whether it was answered.
struct Probe {
    const IpAddress* source;
    const IpAddress* target;
    std::uint16_t port;
    bool answered;
};

// A conversation gives at most a server end and a handshake time, or two ends that accepted,
// or two probes, or an attempt.
static_assert(sizeof(Handshake) + sizeof(ServerEnd) <= derivationCost &&
                  2 * sizeof(EndTraffic) <= derivationCost && 2 * sizeof(Probe) <= derivationCost,
              "the records of a conversation fit what the tally counts for them");

// Calls `visit` with each run of `items` (sorted) that `same` holds of, as a span.
template <typename T, typename Same, typename Visit>
void eachGroup(const std::vector<T>& items, Same same, Visit visit) {
    for (std::size_t first = 0, next; first < items.size(); first = next) {
        for (next = first + 1; next < items.size() && same(items[first], items[next]); ++next) {
        }
        visit(std::span<const T>(items.data() + first, next - first));
    }
}

// How many distinct addresses `of` gives for the items of a group.
template <typename T, typename Of>
std::int64_t distinct(std::span<const T> group, Of of) {
    std::vector<const IpAddress*> addresses;
    addresses.reserve(group.size());
    for (const T& item : group) {
        addresses.push_back(&of(item));
    }
    const auto less = [](const IpAddress* x, const IpAddress* y) { return *x < *y; };
    std::sort(addresses.begin(), addresses.end(), less);
    return std::unique(addresses.begin(), addresses.end(),
                       [](const IpAddress* x, const IpAddress* y) { return *x == *y; }) -
           addresses.begin();
}

// The name of a port's well-known service, or NULL.
void bindService(Statement& statement, int parameter, ServiceName name, std::uint16_t port) {
    const std::string_view service = name(port);
    if (service == ephemeralService) {
        statement.bindNull(parameter);
    } else {
        statement.bindText(parameter, service);
    }
}

Counts sum(std::span<const EndTraffic> group) {
    Counts total;
    for (const EndTraffic& item : group) {
        total += item.counts;
    }
    return total;
}

// The table of a section's rows, of the columns named.
Statement makeTable(TallyStore& store, std::string_view id, std::string_view columns) {
    const std::string table = derivedTable(id);
    store.run(("CREATE TABLE " + table + " (" + std::string(columns) + ")").c_str());
    std::string values;
    for (std::size_t n = 1, count = 1 + std::count(columns.begin(), columns.end(), ','); n <= count;
         ++n) {
        values += (n == 1 ? "?" : ", ?") + std::to_string(n);
    }
    return store.prepare("INSERT INTO " + table + " VALUES (" + values + ")");
}

class Derivation {
  public:
    Derivation(TallyStore& store, const ConversationMap& conversations,
               const ProtocolCatalog& catalog, std::span<const std::string_view> states)
        : store(store), conversations(conversations), catalog(catalog), states(states) {
        // A protocol's name may be of both families: the services group by the name.
        for (std::size_t n = 0; n < catalog.size(); ++n) {
            std::size_t first = 0;
            while (catalog.name(static_cast<std::uint16_t>(first)) !=
                   catalog.name(static_cast<std::uint16_t>(n))) {
                ++first;
            }
            nameOf.push_back(static_cast<std::uint16_t>(first));
        }
    }

    // The services by traffic, the TCP states and the handshake times, all of the server ends.
    void serverEnds();
    // The handshake times by server and by service, of `times`, which they sort.
    void handshakes(std::vector<Handshake>& times);
    void tcpServices();
    void portScans();
    void unanswered();

  private:
    // Calls `visit` with each conversation that --state keeps, of TCP only when `tcpOnly`, and
    // its facts (worked out only when `withFacts` or --state asks for them).
    template <typename Visit>
    void each(bool tcpOnly, bool withFacts, Visit visit) const {
        ConversationFacts facts;
        for (const auto& entry : conversations) {
            const ProtocolKind kind = catalog.kind(entry.first.protocol);
            if (tcpOnly && kind != ProtocolKind::Tcp) {
                continue;
            }
            if (withFacts || !states.empty()) {
                facts = conversationFacts(entry.first, entry.second, kind);
            }
            if (!states.empty() &&
                std::find(states.begin(), states.end(), facts.state) == states.end()) {
                continue;
            }
            visit(entry.first, entry.second, facts);
        }
    }

    TallyStore& store;
    const ConversationMap& conversations;
    const ProtocolCatalog& catalog;
    std::span<const std::string_view> states;
    std::vector<std::uint16_t> nameOf;
};

void Derivation::handshakes(std::vector<Handshake>& times) {
    // The median and the 95th percentile by the nearest rank: the smallest time such that at
    // least half (95 %) of the group's are no greater.
    const auto percentiles = [](Statement& row, int first, std::span<const Handshake> group) {
        const std::size_t count = group.size();
        row.bind(first, group[(count + 1) / 2 - 1].time)
            .bind(first + 1, group[(95 * count + 99) / 100 - 1].time);
    };
    const auto retried = [](std::span<const Handshake> group) {
        return static_cast<std::int64_t>(std::count_if(
            group.begin(), group.end(), [](const Handshake& h) { return h.retried; }));
    };
    std::sort(times.begin(), times.end(), [](const Handshake& x, const Handshake& y) {
        return x.address() != y.address() ? x.address() < y.address() : x.time < y.time;
    });
    Statement server =
        makeTable(store, "handshake_servers", "server, handshakes, retried, median, p95");
    eachGroup(
        times, [](const Handshake& x, const Handshake& y) { return x.address() == y.address(); },
        [&](std::span<const Handshake> group) {
            bindAddress(server, 1, group[0].address());
            server.bind(2, static_cast<std::int64_t>(group.size())).bind(3, retried(group));
            percentiles(server, 4, group);
            server.run();
        });
    std::sort(times.begin(), times.end(), [](const Handshake& x, const Handshake& y) {
        return x.port() != y.port() ? x.port() < y.port() : x.time < y.time;
    });
    Statement service = makeTable(store, "handshake_services",
                                  "port, service, handshakes, retried, servers, median, p95");
    eachGroup(
        times, [](const Handshake& x, const Handshake& y) { return x.port() == y.port(); },
        [&](std::span<const Handshake> group) {
            service.bind(1, group[0].port());
            bindService(service, 2, tcpServiceName, group[0].port());
            service.bind(3, static_cast<std::int64_t>(group.size()))
                .bind(4, retried(group))
                .bind(5, distinct(group, [](const Handshake& h) -> const IpAddress& {
                          return h.address();
                      }));
            percentiles(service, 6, group);
            service.run();
        });
}

void Derivation::serverEnds() {
    struct Tally {
        std::int64_t conversations = 0;
        Counts counts;
    };
    Tally byState[tcpStates.size()] = {};
    std::vector<ServerEnd> ends;
    ends.reserve(conversations.size());
    std::vector<Handshake> times;
    times.reserve(conversations.size());
    each(false, true,
         [&](const ConversationKey& key, const Conversation& c, const ConversationFacts& f) {
             if (f.server < 0) {
                 return;
             }
             if (f.handshake != unknownTime) {
                 times.push_back({&key, f.handshake,
                                  static_cast<std::uint8_t>(*f.client == 1 ? 0 : 1), f.syns > 1});
             }
             Counts counts = c.aToB;
             counts += c.bToA;
             for (std::size_t s = 0; s < tcpStates.size(); ++s) {
                 if (tcpStates[s].code == f.state) {
                     ++byState[s].conversations;
                     byState[s].counts += counts;
                 }
             }
             ends.push_back({f.server == 0 ? &key.a : &key.b, counts, nameOf[key.protocol],
                             f.server == 0 ? key.portA : key.portB,
                             catalog.kind(key.protocol) == ProtocolKind::Tcp,
                             sentSynAck(c, f.server), f.state == "REJ"});
         });
    std::sort(ends.begin(), ends.end(), [](const ServerEnd& x, const ServerEnd& y) {
        return x.name != y.name ? x.name < y.name : x.port < y.port;
    });
    Statement row = makeTable(store, "services_by_traffic",
                              "protocol, port, service, conversations, servers, frames, bytes");
    std::int64_t refusedOnly = 0;
    eachGroup(
        ends,
        [](const ServerEnd& x, const ServerEnd& y) { return x.name == y.name && x.port == y.port; },
        [&](std::span<const ServerEnd> group) {
            const ServerEnd& first = group[0];
            bool accepted = false, refused = false;
            Counts counts;
            for (const ServerEnd& end : group) {
                accepted = accepted || end.accepted;
                refused = refused || end.refused;
                counts += end.counts;
            }
            // A TCP port that only refused is no service.
            if (first.tcp && !accepted && refused) {
                ++refusedOnly;
                return;
            }
            row.bindText(1, catalog.name(first.name)).bind(2, first.port);
            bindService(row, 3, first.tcp ? tcpServiceName : udpServiceName, first.port);
            row.bind(4, static_cast<std::int64_t>(group.size()))
                .bind(5, distinct(group, [](const ServerEnd& e) -> const IpAddress& {
                          return *e.address;
                      }));
            bindCounts(row, 6, counts);
            row.run();
        });
    store.run(("CREATE TABLE " + derivedAside("services_by_traffic") + " (n)").c_str());
    store.prepare("INSERT INTO " + derivedAside("services_by_traffic") + " VALUES (?1)")
        .bind(1, refusedOnly)
        .run();
    Statement state =
        makeTable(store, "tcp_states", "state, meaning, conversations, frames, bytes");
    for (std::size_t s = 0; s < tcpStates.size(); ++s) {
        if (byState[s].conversations > 0) {
            state.bindText(1, tcpStates[s].code)
                .bindText(2, tcpStates[s].meaning)
                .bind(3, byState[s].conversations);
            bindCounts(state, 4, byState[s].counts);
            state.run();
        }
    }
    ends = {};
    handshakes(times);
}

void Derivation::tcpServices() {
    std::vector<EndTraffic> accepted;
    accepted.reserve(conversations.size());
    each(true, false,
         [&](const ConversationKey& key, const Conversation& c, const ConversationFacts&) {
             Counts counts = c.aToB;
             counts += c.bToA;
             for (int end = 0; end < 2; ++end) {
                 if (sentSynAck(c, end)) {
                     accepted.push_back({end == 0 ? &key.a : &key.b, nullptr, counts,
                                         end == 0 ? key.portA : key.portB});
                 }
             }
         });
    std::sort(accepted.begin(), accepted.end(),
              [](const EndTraffic& x, const EndTraffic& y) { return x.port < y.port; });
    Statement row =
        makeTable(store, "tcp_services", "port, service, connections, servers, frames, bytes");
    eachGroup(
        accepted, [](const EndTraffic& x, const EndTraffic& y) { return x.port == y.port; },
        [&](std::span<const EndTraffic> group) {
            row.bind(1, group[0].port);
            bindService(row, 2, tcpServiceName, group[0].port);
            row.bind(3, static_cast<std::int64_t>(group.size()))
                .bind(4, distinct(group, [](const EndTraffic& e) -> const IpAddress& {
                          return *e.address;
                      }));
            bindCounts(row, 5, sum(group));
            row.run();
        });
}

void Derivation::portScans() {
    // Rarely more than one a conversation, and two at most.
    std::vector<Probe> probes;
    probes.reserve(conversations.size());
    each(true, false,
         [&](const ConversationKey& key, const Conversation& c, const ConversationFacts&) {
             if (sentSyn(c, 0)) {
                 probes.push_back({&key.a, &key.b, key.portB, sentSynAck(c, 1)});
             }
             if (sentSyn(c, 1)) {
                 probes.push_back({&key.b, &key.a, key.portA, sentSynAck(c, 0)});
             }
         });
    const auto pair = [](const Probe& x, const Probe& y) {
        return *x.source == *y.source && *x.target == *y.target;
    };
    std::sort(probes.begin(), probes.end(), [](const Probe& x, const Probe& y) {
        if (*x.source != *y.source) {
            return *x.source < *y.source;
        }
        return *x.target != *y.target ? *x.target < *y.target : x.port < y.port;
    });
    Statement row = makeTable(
        store, "port_scans",
        "source, target, ports, answered, answered_share, answered_share_whole, open_ports");
    eachGroup(probes, pair, [&](std::span<const Probe> group) {
        std::int64_t ports = 0, answered = 0;
        std::string open;
        for (std::size_t i = 0; i < group.size();) {
            // A port probed more than once is answered when any of its probes was.
            bool yes = false;
            const std::uint16_t port = group[i].port;
            for (; i < group.size() && group[i].port == port; ++i) {
                yes = yes || group[i].answered;
            }
            ++ports;
            if (yes) {
                ++answered;
                if (!open.empty()) {
                    open += ',';
                }
                open += std::to_string(port);
            }
        }
        if (ports < scanPorts) {
            return;
        }
        bindAddress(row, 1, *group[0].source);
        bindAddress(row, 2, *group[0].target);
        row.bind(3, ports).bind(4, answered).bind(5, answered).bind(6, ports);
        if (open.empty()) {
            row.bindNull(7);
        } else {
            row.bindText(7, open);
        }
        row.run();
    });
}

void Derivation::unanswered() {
    std::vector<EndTraffic> attempts;
    attempts.reserve(conversations.size());
    each(true, false,
         [&](const ConversationKey& key, const Conversation& c, const ConversationFacts&) {
             if (sentSyn(c, 0) && c.bToA.frames == 0) {
                 attempts.push_back({&key.a, &key.b, c.aToB, key.portB});
             }
             if (sentSyn(c, 1) && c.aToB.frames == 0) {
                 attempts.push_back({&key.b, &key.a, c.bToA, key.portA});
             }
         });
    std::sort(attempts.begin(), attempts.end(), [](const EndTraffic& x, const EndTraffic& y) {
        if (*x.address != *y.address) {
            return *x.address < *y.address;
        }
        return *x.other != *y.other ? *x.other < *y.other : x.port < y.port;
    });
    Statement row =
        makeTable(store, "unanswered_syns", "source, destination, port, attempts, frames, bytes");
    eachGroup(
        attempts,
        [](const EndTraffic& x, const EndTraffic& y) {
            return *x.address == *y.address && *x.other == *y.other && x.port == y.port;
        },
        [&](std::span<const EndTraffic> group) {
            bindAddress(row, 1, *group[0].address);
            bindAddress(row, 2, *group[0].other);
            row.bind(3, group[0].port).bind(4, static_cast<std::int64_t>(group.size()));
            bindCounts(row, 5, sum(group));
            row.run();
        });
}

}  // namespace

void deriveSections(TallyStore& store, const ConversationMap& conversations,
                    const ProtocolCatalog& catalog, std::span<const std::string_view> states) {
    Derivation derivation(store, conversations, catalog, states);
    store.run("BEGIN");
    derivation.serverEnds();
    derivation.tcpServices();
    derivation.portScans();
    derivation.unanswered();
    store.run("COMMIT");
}

}  // namespace tidewrack::report
