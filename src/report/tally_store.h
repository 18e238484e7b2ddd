// The tally's store: a temporary SQLite database that holds the report's counts in tables, so
// that every section is a query over them and memory stays within a budget whatever they hold.
//
// The tally counts in hash maps and, whenever they pass their budget, writes them into the
// *_part tables and starts afresh; at the end it writes the rest and the small tables, and
// aggregate() adds the parts up with GROUP BY into the tables the sections read. SQLite keeps a
// temporary database in its page cache up to the cache size and in a file past it (in TMPDIR,
// else /var/tmp or /tmp), removed as soon as it is made, and its sorter spills to such files
// as well: the store itself needs a bounded amount of memory.
//
// The tables the sections read (addresses are BLOBs of their 4 or 16 bytes, so that length()
// tells the family; times are microseconds on the report's axis, NULL when unknown; a family
// is 4 or 6):
//   database(number, path, mode, dated, frames, bytes, first, last, back, delivered, place,
//            read_error, records, holds_frames)
//       number: in the order given; place: in the order shown; back: the frames whose time
//       goes back (NULL on an axis without dates, and when read from the connection record,
//       which does not tell); records: read from its connection record instead of its frames;
//       holds_frames: it has a row per frame (not a database of flows only); delivered: CAPTURE's
//       frames, or NULL; read_error: the text of the read error its capture ended in, NULL for none
//   protocol(number, name, family, tcp, ports, frames, bytes)   ports: 1 for TCP and UDP
//   interval(start, frames, bytes, idle): the rows of the timeline (timeline.h), idle the
//       length of a collapsed idle gap, NULL for an interval; timeline(interval)
//   second(second, frames, bytes): the counts of each second that saw a frame
//   activity(start, last, before): the stretches of traffic (activity.h), before the active
//       time of those before it, so that the active time up to any time t is one look-up:
//       before + min(t, last) - start of the last stretch that starts no later than t
//   endpoint(address, frames_sent, bytes_sent, frames_received, bytes_received, first, last)
//   conversation(protocol, a, port_a, b, port_b, frames_ab, bytes_ab, frames_ba, bytes_ba,
//                first, last, syn_a, syn_b, syn_ack_a, syn_ack_b, client, server, state,
//                handshake, connect, syns)
//       client: the end that opened it, 0 for a and 1 for b, NULL without a SYN; server: the
//       server end of TCP and UDP (tcp_states.h), NULL for other protocols; state: the TCP
//       state's code; handshake: microseconds from the SYN that the server's first SYN ACK
//       answers (the client's last SYN not later than it) to that SYN ACK, NULL unless both are
//       known. When a conversation was written in several parts and a part without the SYN ACK
//       holds a SYN later than it, the SYN answered is no longer known: the client's first SYN
//       stands for it, as tshark's tcp.analysis.ack_rtt measures. connect: microseconds from the
//       client's first SYN to the server's first SYN ACK, NULL unless both are known and the
//       SYN ACK is not the earlier; syns: the SYNs (without ACK) the client sent, 0 for TCP
//       without a client, NULL for other protocols. These are the definitions of the
//       connection record (connections/tcp_state.h), but that a pair of ends used twice is one
//       conversation here.
//   server_end(protocol, tcp, address, port, frames, bytes, accepted, state): a view, a row per
//       conversation of TCP or UDP, its protocol's name and its server end; accepted: whether
//       that end sent SYN ACK; state: the TCP state's code
//   connection(protocol, a, port_a, b, port_b, client, client_port, server_port, state, first,
//              last, retransmissions_ab, retransmissions_ba, out_of_order_ab, out_of_order_ba,
//              duplicate_acks_ab, duplicate_acks_ba, zero_windows_ab, zero_windows_ba,
//              missed_bytes, community_id): every connection of the databases read from their
//              connection record, keyed by its conversation; client 0 for a, 1 for b; its
//              ports as the record has them (ICMP's type and code too); state NULL but for TCP
//       (those with a sign of trouble only: any of the counts not 0)
//   conversation_health(protocol, a, port_a, b, port_b, retransmissions_ab, ...,
//                       missed_bytes, first, community_id): of every conversation, when every
//                       database was read from its record, its connections' counts added up,
//                       and the first one's time and Community ID
//   udp_destination(port, frames, bytes), icmp_message(family, type, code, frames, bytes)
//   icmp_error(reporter, sent_to, type, code, frames, bytes)
//   not_analysed(kind, frames, bytes), vlan(vlan, frames, bytes): of the extended record,
//       added up as floating point and kept at the largest integer, so that no count a
//       database states can make the sum fail
//   setting(rate_duration): one row, the least microseconds of what a ranking by rate ranks
//       by its rate (report_sections.h)
//   baseline_database(path, place), baseline_endpoint(address, frames, bytes),
//   baseline_server(protocol, address, port, conversations, frames, bytes),
//   baseline_activity(active): the baseline's databases, endpoints, server ends and active
//       time, empty without one
//   comparison(now, before, rates): a view, the active times of the traffic and the baseline,
//       and whether they differ by more than ratesApart times, so that the two are compared
//       by their rates over the active time rather than by their totals
// and functions for the names the sections show: known_tcp_port(p) and known_udp_port(p) (p,
// or NULL for a port without a well-known service), tcp_service(p) and udp_service(p) (its
// name; EPHEMERAL for NULL), icmp_type_text(family, type) and icmp_code_text(family, type,
// code) (NULL for an ICMPv6 type without a name), family_name(family) ("IPv4", "IPv6") and
// tcp_state_meaning(code); and those the adding up needs: bits_or(x), an aggregate,
// tcp_client(), server_end() and tcp_state() (tcp_states.h).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "report/counts.h"
#include "report/ip_address.h"
#include "report/sql_statement.h"

namespace tidewrack::report {

class TallyStore {
  public:
    // The page cache the store may take, in bytes; its sorter takes as much at most.
    static constexpr int cacheBytes = 16 << 20;
    // Active times further apart than this factor make the baseline compared by rates: a
    // capture of a day against one of three hours, not one of 60 minutes against one of 58.
    static constexpr double ratesApart = 1.1;

    TallyStore();

    Statement prepare(std::string_view sql) { return Statement(db.get(), sql); }
    void run(const char* sql);  // one or more statements without rows
    // The first value of the first row of `sql`, a query of one value: 0 when it has no row.
    std::int64_t firstInteger(std::string_view sql);

    // Adds the parts up into the tables the sections read.
    void aggregate();

  private:
    struct Close {
        void operator()(sqlite3* connection) const { sqlite3_close(connection); }
    };
    std::unique_ptr<sqlite3, Close> db;
};

// An address as the store keeps it, a BLOB of its 4 or 16 bytes.
inline void bindAddress(Statement& statement, int parameter, const IpAddress& address) {
    unsigned char bytes[16];
    statement.bindBlob(parameter, bytes, static_cast<int>(address.bytes(bytes)));
}

// Frames and bytes, into the parameters `first` and the next.
inline void bindCounts(Statement& statement, int first, const Counts& counts) {
    statement.bind(first, static_cast<std::int64_t>(counts.frames))
        .bind(first + 1, static_cast<std::int64_t>(counts.bytes));
}

}  // namespace tidewrack::report
