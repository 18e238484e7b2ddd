// The report of a database read from its connection record and its traffic by second agrees
// with the report of its frames, on every capture of the corpus: a -x database (mode 1) read
// from its record and read frame by frame (TIDEWRACK_REPORT_FRAMES), and a database of flows
// only (-x -m 3) of the same capture, compared section by section in JSON.
//
// What differs, by design, is named here with its reason:
//   - the databases section's mode and path (another database), how it was read (`read`), and
//     whether its time goes back (`time_goes_back`), which the record does not tell;
//   - the health that only the record tells: the conversations' health columns and Community
//     ID, and the connections in worst health, compared between the two databases read from
//     their records;
//   - of a database of flows only, the ICMP messages and errors, which need each frame's type
//     and code;
//   - where the connection record keys frames otherwise than by their frames table's columns:
//     an IP fragment after the first (a connection of its addresses alone, where the frames
//     table holds whatever its ports' bytes were), a segment with SYN and FIN or RST (no SYN
//     to the record), a packet inside AH (the protocol inside it, to the record): there the
//     sections of conversations and what follows from them differ, and only those of the
//     endpoints, the time and the frames not analysed are compared;
//   - where times go back, the timeline: the lengths of its idle gaps are exact to the second.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "database.h"
#include "report_test_kit.h"

namespace {

using reportkit::jsonQuery;
using reportkit::runReport;

// Each section of a JSON report as its JSON text, by id; of the databases section, without the
// keys named; of the conversations, without those of the connection record's health when
// `health` is false.
std::map<std::string, std::string>
sections(const std::string& json, const std::string& databaseKeysLeftOut, bool health = true) {
    const std::string healthKeys =
        "'$.retransmissions_a_to_b', '$.retransmissions_b_to_a', '$.out_of_order_a_to_b', "
        "'$.out_of_order_b_to_a', '$.duplicate_acks_a_to_b', '$.duplicate_acks_b_to_a', "
        "'$.zero_windows_a_to_b', '$.zero_windows_b_to_a', '$.missed_bytes', '$.community_id'";
    std::map<std::string, std::string> all;
    for (const std::string& row : jsonQuery(
             json, "SELECT key, CASE key WHEN 'databases' THEN (SELECT json_group_array("
                   "json_remove(d.value, " +
                       databaseKeysLeftOut +
                       ")) FROM json_each(j.value) AS d) WHEN 'conversations' THEN (SELECT "
                       "json_group_array(" +
                       (health ? std::string("json(c.value)")
                               : "json_remove(c.value, " + healthKeys + ")") +
                       ") FROM json_each(j.value) AS c) ELSE j.value END FROM json_each(?1) AS j "
                       "WHERE key NOT IN ('generator', 'top')")) {
        const std::size_t bar = row.find('|');
        all[row.substr(0, bar)] = row.substr(bar + 1);
    }
    return all;
}

// Analyses `capture` with -x in `mode` into `database`: a capture that ends in a read error
// fails the run but leaves its database, which holds the frames before it.
void analyse(const std::string& capture, const std::string& database, int mode) {
    const std::string tidewrack =
        std::filesystem::path(TIDEWRACK_REPORT_BINARY).parent_path() / "tidewrack";
    const testkit::Outcome run =
        testkit::runBinary("/usr/bin/env", {"TZ=UTC", tidewrack, "-x", "-m", std::to_string(mode),
                                            "-r", capture, "-d", database});
    ASSERT_TRUE(run.status == 0 || (run.status == 1 && std::filesystem::exists(database)))
        << run.out << run.err;
}

}  // namespace

TEST(ReportRecordAgreement, RecordsGiveWhatTheFramesGiveOnTheCorpus) {
    SKIP_WITHOUT_CORPUS();
    testkit::ScratchDir dir;
    const std::vector<std::string> keyedOtherwise = {"endpoints", "timeline", "busiest_intervals",
                                                     "not_analysed", "vlans"};
    int compared = 0, otherwise = 0;
    for (const std::string& capture : testkit::corpusFiles()) {
        SCOPED_TRACE(capture);
        const std::string full = dir.path("full.db"), flows = dir.path("flows.db");
        std::filesystem::remove(full);
        std::filesystem::remove(flows);
        analyse(capture, full, 1);
        analyse(capture, flows, 3);
        const testkit::Outcome byFrame = runReport({"--json", full}, {"TIDEWRACK_REPORT_FRAMES=1"});
        const testkit::Outcome byRecord = runReport({"--json", full});
        const testkit::Outcome ofFlows = runReport({"--json", flows});
        ASSERT_EQ(byFrame.status, 0) << byFrame.err;
        ASSERT_EQ(byRecord.status, 0) << byRecord.err;
        ASSERT_EQ(ofFlows.status, 0) << ofFlows.err;
        const bool differently =
            testkit::query(
                full, "SELECT (SELECT count(*) FROM CONNECTIONS WHERE protocol IN (6, 17) AND "
                      "client_port IS NULL) + (SELECT count(*) FROM FRAMES WHERE ipproto = "
                      "'AH' OR (flags LIKE '%SYN%' AND flags NOT LIKE '%ACK%' AND (flags "
                      "LIKE '%FIN%' OR flags LIKE '%RST%')))") != std::vector<std::string>{"0"};
        // Where times go back, the idle gaps' lengths are exact to the second only.
        const bool goesBack =
            jsonQuery(byFrame.out, "SELECT total(value ->> 'time_goes_back') > 0 FROM "
                                   "json_each(?1, '$.databases')") != std::vector<std::string>{"0"};
        const std::string read = "'$.read', '$.time_goes_back'",
                          another = read + ", '$.mode', '$.path'";
        const auto frames = sections(byFrame.out, read, false);
        const auto records = sections(byRecord.out, read, false);
        const auto recordsWhole = sections(byRecord.out, another);
        const auto flowsOnly = sections(ofFlows.out, another);
        ASSERT_EQ(frames.size(), records.size());
        ASSERT_EQ(frames.size(), flowsOnly.size());
        for (const auto& [id, text] : frames) {
            // Read from the record, a database of flows only tells all that a mode-1 one does,
            // the health included, but for the ICMP messages and errors.
            if (id != "icmp_messages" && id != "icmp_errors") {
                EXPECT_EQ(flowsOnly.at(id), recordsWhole.at(id)) << id << " of flows only";
            }
            if (id == "worst_health" ||
                (differently &&
                 std::find(keyedOtherwise.begin(), keyedOtherwise.end(), id) ==
                     keyedOtherwise.end() &&
                 id != "databases") ||
                (goesBack && id == "timeline")) {
                continue;
            }
            EXPECT_EQ(records.at(id), text) << id << " read from the record of " << full;
        }
        ++(differently ? otherwise : compared);
    }
    // The corpus holds both kinds; a change that made every capture "keyed otherwise" would
    // leave nothing compared whole.
    EXPECT_GT(compared, 50);
    EXPECT_LT(otherwise, 10);
}
