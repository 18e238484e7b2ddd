// The report as one self-contained HTML page: inline CSS, charts of inline SVG, no script and
// no reference to anything outside the page, so that it opens offline, mails as one file and
// prints cleanly. A Content-Security-Policy forbids the page any fetch or script, so that a
// browser would refuse, and log, any that crept in.
//
// The summary is the page's header (its title, the traffic's span, its figures); every other
// section is a <section id="ID"> with its heading, note, chart and table. The page fits any
// screen: charts take the page's width, a table wider than the screen scrolls inside its own
// box, and a narrow screen gets narrower margins. It follows the reader's colour scheme (light
// or dark), and in print keeps headings with what follows them and figures unbroken.
#pragma once

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

void htmlReport(const Report& report, TextSink& out);

}  // namespace tidewrack::report
