// The report as one self-contained HTML page: inline CSS, inline SVG charts, no script and no
// reference to anything outside the page, so that it opens offline, mails as one file and
// prints cleanly. A Content-Security-Policy forbids the page any fetch or script, so that a
// browser would refuse, and log, any that crept in.
#pragma once

#include <string>

#include "report/report_sections.h"

namespace tidewrack::report {

std::string htmlReport(const Report& report);

}  // namespace tidewrack::report
