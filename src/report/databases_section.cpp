// The databases' note: the read errors their captures ended in, the times that go back, and
// which were read from their connection record.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"

namespace tidewrack::report {

// Names the databases whose capture ended in a read error, which lost the frames after it,
// each with libpcap's text, and those whose time goes back, which no span can show.
void completeDatabases(Section& section, TallyStore& store, Report&, const ReportSettings&) {
    constexpr int namedErrors = 10;
    Statement failed =
        store.prepare("SELECT path, delivered, read_error, count(*) OVER () AS count FROM database "
                      "WHERE read_error IS NOT NULL ORDER BY place LIMIT " +
                      std::to_string(namedErrors));
    const int path = failed.column("path"), delivered = failed.column("delivered"),
              text = failed.column("read_error"), all = failed.column("count");
    std::string errors;
    std::int64_t count = 0;
    while (failed.step()) {
        errors += (errors.empty() ? "" : "; ") + std::string("the capture of ") +
                  std::string(failed.text(path)) + " ended in a read error" +
                  (failed.isNull(delivered)
                       ? ""
                       : " after " + counted(static_cast<std::uint64_t>(failed.integer(delivered)),
                                             "frame", "frames")) +
                  (failed.text(text).empty() ? "" : ": \"" + std::string(failed.text(text)) + "\"");
        count = failed.integer(all);
    }
    if (count > namedErrors) {
        errors += "; and the captures of " + groupDigits(count - namedErrors) +
                  " more databases ended in a read error";
    }
    constexpr int named = 3;
    Statement back = store.prepare("SELECT path, back, count(*) OVER () AS count FROM database "
                                   "WHERE back > 0 ORDER BY place LIMIT " +
                                   std::to_string(named));
    const int backPath = back.column("path"), times = back.column("back"),
              backCount = back.column("count");
    std::string list;
    count = 0;
    while (back.step()) {
        list += (list.empty() ? "" : ", ") + std::string(back.text(backPath)) + " (" +
                counted(static_cast<std::uint64_t>(back.integer(times)), "time", "times") + ")";
        count = back.integer(backCount);
    }
    if (count > 0) {
        section.note = "time goes back in " + list +
                       (count > named ? " and " + groupDigits(count - named) + " more" : "") +
                       "; first and last are the earliest and latest times";
    }
    if (!errors.empty()) {
        section.note = errors + (section.note.empty() ? "" : "; " + section.note);
    }
    const std::int64_t records = store.firstInteger("SELECT count(*) FROM database WHERE records");
    if (records > 0) {
        const std::int64_t all = store.firstInteger("SELECT count(*) FROM database");
        section.note +=
            (section.note.empty() ? "" : "; ") +
            std::string(records == all ? "read" : groupDigits(records) + " of them read") +
            " from the connection record and the traffic by second (CONNECTIONS, "
            "SECONDS), not frame by frame";
    }
}

}  // namespace tidewrack::report
