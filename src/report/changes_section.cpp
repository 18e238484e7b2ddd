// The notes of the changes since the baseline: how the two sides are compared.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"

namespace tidewrack::report {

void completeChanges(Section& section, TallyStore& store, Report& report, const ReportSettings&) {
    if (section.absent || section.shown == 0 ||
        store.firstInteger("SELECT rates FROM comparison") == 0) {
        return;
    }
    // Active times far apart: a change is measured from the baseline's rate over the active
    // time now, not from its total.
    const auto duration = [&](const char* side) {
        return peopleText(Cell{.number = store.firstInteger(std::string("SELECT CAST(") + side +
                                                            " AS INTEGER) FROM comparison")},
                          Kind::Duration, report.axis);
    };
    section.note += "; compared by rates, the active times being apart (" + duration("before") +
                    " before, " + duration("now") +
                    " now): change is the bytes now less what the baseline's rate comes to over "
                    "the active time now";
}

}  // namespace tidewrack::report
