// The filter of --host, --port, --protocol, --from and --to, which frames pass as they are read,
// so that every section of the report counts only them.
//
// Repeats of one option are alternatives, different options must all hold:
//   --host ADDR[/PREFIX]   the source or the destination is in the prefix (either family)
//   --host NAME            the source or the destination is an address that a name matching
//                          NAME was learnt for (address_names.h): a name, letter case aside,
//                          or *.domain for the domain and every name under it; the addresses
//                          are found in every database of the report before any frame is read
//   --port N               the source or the destination port is N, for TCP and UDP only
//   --protocol NAME        the protocol is named NAME in the frames tables (TCP, UDP, ICMP,
//                          IPv6-ICMP, OSPF...), letter case aside, of either family; a name
//                          that is neither tidewrack's nor held by the databases is refused
//   --from TIME, --to TIME a half-open window: a frame at --from is in, one at --to is out
//   --id COMMUNITY_ID      the connection of that Community ID, of a database read from its
//                          connection record: a frame read from a frames table passes none
// A time is a time of day, HH:MM[:SS[.ffffff]], which applies to every day: on classic
// databases to the time of day as stored, on dated ones to the time of day the report shows
// (in the zone its heading names). When --to is earlier in the day than --from, the window
// runs across midnight (--from 23:00 --to 01:00 is two hours a night). With databases that
// record dates a time may also be a point, YYYY-MM-DD HH:MM[:SS[.ffffff]], in that same zone.
// Of repeated --from (or --to) of one kind, the earliest --from and the latest --to hold. A
// frame without a known time passes no window.
//
// The values are checked as the command line is read (FilterChoice); a FrameFilter then places
// its times on the time axis of the databases it reads, before their frames are read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "report/frame_row.h"
#include "report/ip_address.h"
#include "report/protocol_catalog.h"
#include "report/time_axis.h"

namespace tidewrack::report {

// What the command line asked for.
struct FilterChoice {
    // A bound of the window: a time of day in microseconds, or a point, a local date and time
    // in microseconds since 1970-01-01 00:00 of the zone the report tells times in.
    struct Bound {
        bool point = false;
        std::int64_t value = 0;
        std::string words;  // "--from 2025-01-01 10:00", for messages
    };

    std::vector<IpPrefix> hosts;
    std::vector<std::string> names;  // --host values that are names or *.domain patterns
    std::vector<std::uint16_t> ports;
    std::vector<std::string> protocols;
    std::vector<std::string> ids;  // Community IDs (--id), of connections in the record
    std::vector<Bound> from;
    std::vector<Bound> to;
    std::string words;  // the options as given: "--host 10.0.0.5 --from 14:02"

    // Adds the value of option `option` ("host", "port", "protocol", "from", "to", "id"); a bad
    // value is a ReportError naming the option.
    void add(const std::string& option, const std::string& value);
    // Refuses a window that holds no time at all.
    void check() const;
    // Refuses, as a UsageError, a --protocol that is neither a name of tidewrack's protocol
    // tables nor one of those the catalogs met in the databases (a typo, which would leave no
    // frame), naming those they met. The tables' names pass whether the databases hold them or
    // not.
    void checkProtocolNames(const std::vector<const ProtocolCatalog*>& catalogs) const;
    bool empty() const { return words.empty(); }
    bool hasPoints() const;
};

class FrameFilter {
  public:
    // The filter on `axis`, its points told in the zone of `zone` (the report's axis, which
    // may be another than the one of the databases read). A point on an axis without dates is
    // a UsageError.
    FrameFilter(const FilterChoice& choice, const TimeAxis& axis, const TimeAxis& zone);

    // The addresses that the --host names stand for, once found in the databases' names.
    void nameAddresses(const std::set<IpAddress>& addresses);

    bool passes(const FrameRow& row, const ProtocolCatalog& catalog);
    // Whether a connection whose frames have the ends, ports and protocol of `row` and fall
    // from `first` to `last` passes: its ends and protocol as a frame's, and the window when
    // any moment of that span is in it (the connection was active in the window).
    bool passes(const FrameRow& row, const ProtocolCatalog& catalog, std::int64_t first,
                std::int64_t last);
    // Whether the traffic of `protocol` in the second that starts at `start` passes, by its
    // protocol and start.
    bool secondPasses(std::uint16_t protocol, std::int64_t start, const ProtocolCatalog& catalog);
    // Whether the filter has a window of time; whether it asks only what a connection of the
    // record answers for all its frames at once (protocols, Community IDs).
    bool timed() const { return windowed; }
    bool connectionsOnly() const;
    // Whether a connection of Community ID `id` passes --id, if given.
    bool idPasses(std::string_view id) const;
    // Whether it asks for hosts, ports or Community IDs, which the traffic by second cannot tell.
    bool asksForEnds() const {
        return !choice.hosts.empty() || !choice.names.empty() || !choice.ports.empty() ||
               !choice.ids.empty();
    }

  private:
    struct AddressHash {
        std::size_t operator()(const IpAddress& a) const {
            return std::hash<std::uint64_t>()(a.low ^ (a.high * 0x9E3779B97F4A7C15ull) ^ a.family);
        }
    };
    bool hostPasses(const FrameRow& row) const;

    // Whether the frame passes every option but --id.
    bool framePasses(const FrameRow& row, const ProtocolCatalog& catalog);
    bool protocolPasses(std::uint16_t protocol, const ProtocolCatalog& catalog);
    bool timePasses(std::int64_t time) const;

    const FilterChoice& choice;
    std::vector<std::int8_t> protocolMatch;  // by catalog number: 1 passes, 0 not, -1 not known
    std::optional<std::int64_t> clockFrom, clockTo, pointFrom, pointTo;  // on the axis
    bool windowed = false;
    std::unordered_set<IpAddress, AddressHash> named;
};

}  // namespace tidewrack::report
