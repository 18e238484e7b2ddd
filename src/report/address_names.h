// The names that one side of a report learnt for addresses, from the NAMES and CONNECTIONS
// tables of its databases (made with tidewrack -x; name_reader.cpp reads them): the one name
// each address shows beside it, the server names with their connections and traffic, and the
// addresses that a --host name pattern stands for.
//
// An address shows one name: the server name (SNI, QUIC SNI, Host, else the DNS answer the
// client had) that most connections to it carried, with where it was learnt, ties going to the
// first name in byte order; an address no connection named shows the name learnt for it last
// (the last database given, then the highest frame; of names of one frame, the first in byte
// order), with its source. Names are kept as tidewrack stores them, in presentation form, and
// letter case aside (ASCII letters lowered), as DNS compares them.
//
// Looking up the name of an address is one hash look-up of its bytes (4 or 16, as the store
// and a Cell keep them): the report does it for each row it shows, never for each frame.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "report/ip_address.h"
#include "report/time_axis.h"

namespace tidewrack::report {

class TallyStore;

// A name and where it was learnt: dns, tls, quic or http.
struct LearntName {
    std::string name;
    std::string source;
};

class AddressNames {
  public:
    // A name learnt for `address` (NAMES), in the order of learning: each one later than the
    // one before.
    void learnt(const IpAddress& address, std::string_view name, std::string_view source);
    // A connection to `server` that carried `name`, learnt from `source`, first seen at
    // `first` (UTC microseconds since 1970; unknownTime when not known), with `bytes` both
    // ways.
    void connection(const IpAddress& server, std::string_view name, std::string_view source,
                    std::int64_t first, std::int64_t bytes);
    // Chooses the name each address shows, once everything is read.
    void settle();

    // The name the address of `bytes` shows; null for none.
    const LearntName* find(std::string_view bytes) const;
    // Whether any address has a name.
    bool any() const { return !shown.empty(); }
    bool hasServerNames() const { return !servers.empty(); }

    // Adds to `out` the addresses that a name matching `pattern` was learnt for, as a NAMES row
    // or as a connection's server name: a name, letter case aside, or "*.domain" for the domain
    // and every name under it. Whether any name matched.
    bool addMatching(std::string_view pattern, std::set<IpAddress>& out) const;

    // Writes the server names into the store's `table` (server_name or baseline_server_name,
    // which this makes when it is missing), first times on `axis` (NULL on one without dates):
    //   name (lower case), name_source, connections, bytes, first, addresses (their texts in
    //   byte order, joined by commas)
    void writeServerNames(TallyStore& store, const char* table, const TimeAxis& axis) const;

  private:
    struct Carried {
        std::string name;
        std::string source;
        std::uint64_t connections = 0;
    };
    struct Address {
        IpAddress address;
        std::vector<Carried> carried;  // the server names of its connections
        LearntName last;               // the name learnt last, from NAMES
    };
    struct Server {
        std::map<std::string, std::uint64_t> sources;  // connections by where it was learnt
        std::uint64_t connections = 0;
        std::int64_t bytes = 0;
        std::int64_t first = 0;
        bool firstKnown = false;
        std::set<IpAddress> addresses;
    };

    Address& at(const IpAddress& address);

    std::unordered_map<std::string, Address> learntFor;      // by the address's bytes
    std::unordered_map<std::string, LearntName> shown;       // by the address's bytes
    std::map<std::string, std::set<IpAddress>> addressesOf;  // by name
    std::map<std::string, Server> servers;                   // by name
};

// The name in lower case, its ASCII letters lowered: as names are compared and kept.
std::string lowerName(std::string_view name);

}  // namespace tidewrack::report
