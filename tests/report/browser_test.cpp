// The HTML report as a real browser meets it: Debian's chromium, headless.
//
// The page loads without a message on the console (its Content-Security-Policy makes any script
// or fetch a logged violation), and its DOM holds the key figures and the top talker. Then the
// page is laid out at 390 and 1280 pixels wide, in the light and the dark scheme, each in an
// iframe of that width (a headless window is never narrower than 500 pixels) measured by a
// script of the test: the page is never wider than the screen (on the wide one, wide tables
// scroll in their own box; on the narrow one, they show each row as a block of cells, each
// after its column's title), every chart takes the width of its section, no chart text is
// smaller than the tables' text, a time axis has more than three ticks on either screen, and
// more than three labels on the wide one and at least three on the narrow one, none
// overlapping, and the dark scheme is dark. Printed (to PDF, read back by poppler's pdftotext
// where it is installed), no page ends with a section's heading, no figure is broken across
// lines, no column of a wide table is cut off and no word is smaller than 8 points.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "db/traffic_schema.h"
#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

namespace {

bool chromiumInstalled() {
    return std::system("command -v chromium >/dev/null 2>&1") == 0;
}

// Chromium's DOM of `page` after loading, with `switches` added; fails the test if it fails.
std::string renderedDom(const ScratchDir& dir, const std::string& page,
                        const std::string& switches = "") {
    const std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --user-data-dir='" +
        dir.path("profile") + "' --enable-logging=stderr --v=0 " + switches +
        " --dump-dom 'file://" + page + "' >'" + dir.path("dom.html") + "' 2>'" +
        dir.path("chromium.log") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << fileBytes(dir.path("chromium.log"));
    return fileBytes(dir.path("dom.html"));
}

std::string attributeText(std::string text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    }
    return escaped;
}

// Measures each iframe's page once the whole document has loaded, into <body data-layout>.
constexpr const char* probe = R"(<script>
addEventListener('load', () => {
  const layouts = [...document.querySelectorAll('iframe')].map(frame => {
    const w = frame.contentWindow, d = frame.contentDocument;
    const shown = e => e.getClientRects().length > 0 && w.getComputedStyle(e).display != 'none';
    const read = e => shown(e) && w.getComputedStyle(e).visibility != 'hidden';
    const size = e => parseFloat(w.getComputedStyle(e).fontSize);
    const all = s => [...d.querySelectorAll(s)];
    const rgb = w.getComputedStyle(d.body).backgroundColor.match(/\d+/g).map(Number);
    const section = d.querySelector('section').getBoundingClientRect().width;
    return {width: w.innerWidth,
            pageFits: d.documentElement.scrollWidth <= w.innerWidth,
            legible: Math.min(...all('figure.chart span, figure.chart figcaption').filter(shown)
                                  .map(size)) >= size(d.querySelector('td')),
            chartsFill: all('figure.chart').every(f =>
                Math.abs(f.getBoundingClientRect().width - section) < 1),
            ticks: Math.min(...all('figure.lines').map(f =>
                [...f.querySelectorAll('.axis.x span')].filter(shown).length)),
            labels: Math.min(...all('figure.lines').map(f =>
                [...f.querySelectorAll('.axis.x span')].filter(read).length)),
            overlap: all('figure.lines').some(f => {
                const s = [...f.querySelectorAll('.axis.x span')].filter(read)
                              .map(e => e.getBoundingClientRect());
                return s.some((r, i) => i > 0 && r.left < s[i - 1].right); }),
            scrolling: all('div.table').filter(t => t.scrollWidth > t.clientWidth + 1).length,
            blocks: all('div.table thead').filter(h => !shown(h)).length,
            labelled: all('div.table').filter(t => !shown(t.querySelector('thead'))).every(t =>
                [...t.querySelectorAll('td')].every(c =>
                    w.getComputedStyle(c, '::before').content.length > 2)),
            dark: rgb[0] + rgb[1] + rgb[2] < 150};
  });
  document.body.setAttribute('data-layout', JSON.stringify(layouts));
});
</script>)";

}  // namespace

TEST(ReportInBrowser, ChromiumLoadsThePageWithoutConsoleMessages) {
    if (!chromiumInstalled()) {
        GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
    }
    ScratchDir dir;
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", dir.path("web.db"));
    ASSERT_EQ(runReport({"-o", dir.path("web.html"), dir.path("web.db")}).status, 0);
    const std::string dom = renderedDom(dir, dir.path("web.html"));
    const std::string log = fileBytes(dir.path("chromium.log"));

    EXPECT_EQ(log.find(":CONSOLE"), std::string::npos) << log;
    static const std::regex chart(R"re(<figure class="chart[^>]*>[^]*?<svg viewBox="0 0 1000 )re");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(dom.begin(), dom.end(), chart), std::sregex_iterator()),
        6)
        << "protocol mix, bytes and frames over time, busiest intervals, endpoints, TCP states";
    EXPECT_NE(dom.find(R"(<dd id="frames">72</dd>)"), std::string::npos);
    EXPECT_NE(dom.find(R"(<dd id="bytes">20,928</dd>)"), std::string::npos);
    const std::size_t endpoints = dom.find(R"(<section id="endpoints">)");
    ASSERT_NE(endpoints, std::string::npos);
    EXPECT_EQ(dom.find("<tbody>\n<tr><td>", endpoints),
              dom.find("<tbody>\n<tr><td>192.168.1.23</td>", endpoints))
        << "the top talker heads the endpoints";
}

TEST(ReportInBrowser, ThePageFitsNarrowAndWideScreensInBothSchemes) {
    if (!chromiumInstalled()) {
        GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
    }
    ScratchDir dir;
    // The web session; three days of a frame a minute, whose time labels carry their day; and
    // the same made with -x, of IPv4 and IPv6, whose labels carry their date and whose tables
    // of IPv6 ends scroll in their box even on the wide screen.
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", dir.path("web.db"));
    std::vector<tracekit::Record> minutes;
    for (long m = 0; m < 4320; ++m) {
        const tracekit::Bytes udp = tracekit::udpHeader(static_cast<std::uint16_t>(40000 + m % 7),
                                                        443, static_cast<std::size_t>(m % 900));
        tracekit::Address6 from{0x20, 0x01, 0x0d, 0xb8, 0xac, 0x09, 0xd5, 0xae,
                                0xa4, 0xd3, 0xfe, 0x47, 0x69, 0x1e, 0x80, 0x7d};
        from[15] = static_cast<std::uint8_t>(m % 5);
        minutes.push_back({m % 2 ? tracekit::ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, udp)
                                 : tracekit::ipv6Frame(17, from,
                                                       tracekit::Address6{0xfd, 0, 0, 0, 0, 0, 0, 0,
                                                                          0, 0, 0, 0, 0, 0, 0, 1},
                                                       udp),
                           1735689600 + 60 * m});
    }
    tracekit::writeTrace(dir.path("dated.pcap"), minutes);
    makeExtendedDatabase(dir.path("dated.pcap"), dir.path("dated.db"));
    sqlite3* db = nullptr;
    sqlite3_open(dir.path("days.db").c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "WITH RECURSIVE n(m) AS (SELECT 0 UNION ALL SELECT m + 1 FROM n WHERE m < 4319) "
                 "INSERT INTO frames SELECT m, 10,0,0,1, 1000, 10,0,0,2, 53, 'UDP', '', "
                 "printf('%02d:%02d:00.000000', m / 60 % 24, m % 60), 100 + m % 900 FROM n",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::string frames;
    for (const std::string name : {"web", "days", "dated"}) {
        ASSERT_EQ(runReport({"-o", dir.path(name + ".html"), dir.path(name + ".db")}).status, 0);
        for (const int width : {390, 1280}) {
            frames += "<iframe style=\"width:" + std::to_string(width) +
                      "px;height:600px;border:0\" srcdoc=\"" +
                      attributeText(fileBytes(dir.path(name + ".html"))) + "\"></iframe>\n";
        }
    }
    std::ofstream(dir.path("probe.html")) << "<!DOCTYPE html>\n<html><body>\n"
                                          << frames << probe << "</body></html>\n";

    for (const bool dark : {false, true}) {
        const std::string dom =
            renderedDom(dir, dir.path("probe.html"), dark ? "--force-dark-mode" : "");
        static const std::regex layout(R"re(data-layout="([^"]*)")re");
        std::smatch found;
        ASSERT_TRUE(std::regex_search(dom, found, layout)) << dom.substr(0, 2000);
        const std::string json = std::regex_replace(found[1].str(), std::regex("&quot;"), "\"");
        // Each frame: width, page fits, legible, charts fill, ticks and labels, overlap,
        // scrolling, tables as blocks each cell after its title, dark. On the narrow screen a
        // table too wide is blocks, never a scroll.
        const std::string d = std::to_string(dark);
        EXPECT_EQ(
            jsonQuery(json, "SELECT value ->> 'width', value ->> 'pageFits', "
                            "value ->> 'legible', value ->> 'chartsFill', "
                            "value ->> 'ticks' >= 4 AND "
                            "value ->> 'labels' >= iif(value ->> 'width' < 600, 3, 4), "
                            "value ->> 'overlap', value ->> 'scrolling' > 0, "
                            "value ->> 'blocks' > 0, value ->> 'labelled', "
                            "value ->> 'dark' FROM json_each(?1)"),
            (std::vector<std::string>{"390|1|1|1|1|0|0|1|1|" + d, "1280|1|1|1|1|0|0|0|1|" + d,
                                      "390|1|1|1|1|0|0|1|1|" + d, "1280|1|1|1|1|0|0|0|1|" + d,
                                      "390|1|1|1|1|0|0|1|1|" + d, "1280|1|1|1|1|0|1|0|1|" + d}))
            << json;
    }
}

TEST(ReportInBrowser, PrintKeepsHeadingsWithTheirTablesAndFiguresOnOneLine) {
    if (!chromiumInstalled() || std::system("command -v pdftotext >/dev/null 2>&1") != 0) {
        GTEST_SKIP()
            << "chromium and pdftotext are needed (apt-get install chromium poppler-utils)";
    }
    ScratchDir dir;
    // Long lists: 400 conversations of 40 minutes each, every one on the page, half of them of
    // a protocol whose name is too long for the paper's width, so that the table must narrow.
    sqlite3* db = nullptr;
    sqlite3_open(dir.path("long.db").c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "WITH RECURSIVE n(i, c) AS (SELECT 0, 0 UNION ALL SELECT i + 1, (i + 1) % 400 "
                 "FROM n WHERE i < 1599) INSERT INTO frames SELECT i, 10, 0, c / 250, c % 250, "
                 "1024 + c, 10, 9, 0, c % 9, 443, iif(i % 2, 'TCP', 'A PROTOCOL OF A NAME SO "
                 "LONG THAT IT MUST WRAP IN PRINT'), 'ACK ', printf('12:%02d:%02d.%06d', i / 30, "
                 "i % 60, i * 7919 % 1000000), 60 + i * 31 % 1400 FROM n",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    for (const std::string top : {"0", "37"}) {
        ASSERT_EQ(
            runReport({"--top", top, "-o", dir.path("long.html"), dir.path("long.db")}).status, 0);
        const std::string command =
            "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
            "--user-data-dir='" +
            dir.path("profile") +
            "' --no-pdf-header-footer "
            "--print-to-pdf='" +
            dir.path("long.pdf") + "' 'file://" + dir.path("long.html") +
            "' >/dev/null 2>&1 && pdftotext -layout '" + dir.path("long.pdf") + "' '" +
            dir.path("long.txt") + "' && pdftotext -bbox '" + dir.path("long.pdf") + "' '" +
            dir.path("words.html") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string page = fileBytes(dir.path("long.html")),
                          text = fileBytes(dir.path("long.txt"));
        std::set<std::string> headings;
        static const std::regex heading("<h2>([^<]*)</h2>");
        for (auto m = std::sregex_iterator(page.begin(), page.end(), heading);
             m != std::sregex_iterator(); ++m) {
            headings.insert((*m)[1]);
        }
        // pdftotext ends each page with a form feed.
        std::istringstream pages(text);
        int pageCount = 0;
        for (std::string sheet; std::getline(pages, sheet, '\f');) {
            std::istringstream lines(sheet);
            std::string last;
            for (std::string line; std::getline(lines, line);) {
                if (line.find_first_not_of(' ') != std::string::npos) {
                    last = line.substr(line.find_first_not_of(' '));
                }
            }
            pageCount += !last.empty();
            EXPECT_EQ(headings.count(last), 0u) << "a page ends with the heading " << last;
        }
        EXPECT_GT(pageCount, top == "0" ? 8 : 3);
        // Every figure of more than one word (a duration, a share) on one line of the print.
        static const std::regex figure(R"re(<td class="n">([^<]* [^<]*)</td>)re");
        int figures = 0;
        for (auto m = std::sregex_iterator(page.begin(), page.end(), figure);
             m != std::sregex_iterator(); ++m, ++figures) {
            EXPECT_NE(text.find((*m)[1]), std::string::npos) << (*m)[1] << " is broken";
        }
        EXPECT_GT(figures, 30);
        // No column of the conversations is cut off the paper: each title is there, and the
        // rates (by which --by may rank them).
        const std::size_t from = text.find("Conversations\n"),
                          to = text.find("TCP conversations by state");
        ASSERT_LT(from, to);
        const std::string conversations = text.substr(from, to - from);
        for (const char* title : {"protocol", "frames a>b", "bytes a>b", "frames b>a", "bytes b>a",
                                  "first", "last", "duration", "state", "rate"}) {
            EXPECT_NE(conversations.find(title), std::string::npos) << title << " is cut off";
        }
        EXPECT_NE(conversations.find(" bit/s"), std::string::npos) << conversations;
        // No word is printed smaller than 8 points: half the height of the page's title, of 16.
        const std::string words = fileBytes(dir.path("words.html"));
        static const std::regex box(R"re(yMin="([0-9.]+)" xMax="[0-9.]+" yMax="([0-9.]+)")re");
        double least = 1e9, most = 0;
        for (auto m = std::sregex_iterator(words.begin(), words.end(), box);
             m != std::sregex_iterator(); ++m) {
            const double height = std::stod((*m)[2]) - std::stod((*m)[1]);
            least = std::min(least, height);
            most = std::max(most, height);
        }
        EXPECT_GE(least, most / 2 - 0.01) << "of " << most << " for 16 points";
    }
}
