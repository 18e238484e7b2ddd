// The report as text tables for a terminal: one heading and one table per section.
#pragma once

#include <cstddef>
#include <string>

#include "report/report_sections.h"

namespace tidewrack::report {

// The whole report; `width` is the terminal's width in characters, 0 for no limit.
std::string terminalReport(const Report& report, std::size_t width);

}  // namespace tidewrack::report
