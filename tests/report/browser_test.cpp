// The HTML report of the web-session sample as a real browser meets it: Debian's chromium,
// headless, loads the page and logs nothing to its console (the page's Content-Security-Policy
// makes any script or fetch a logged violation), every chart is an SVG element of non-zero
// size in the rendered DOM, and the DOM holds the key figures and the top talker.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

bool chromiumInstalled() {
    return std::system("command -v chromium >/dev/null 2>&1") == 0;
}

}  // namespace

TEST(ReportInBrowser, ChromiumRendersTheChartsAndFiguresWithoutConsoleMessages) {
    if (!chromiumInstalled()) {
        GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
    }
    ScratchDir dir;
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", dir.path("web.db"));
    ASSERT_EQ(runReport({"-o", dir.path("web.html"), dir.path("web.db")}).status, 0);
    const std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --user-data-dir='" +
        dir.path("profile") + "' --enable-logging=stderr --v=0 --dump-dom 'file://" +
        dir.path("web.html") + "' >'" + dir.path("dom.html") + "' 2>'" + dir.path("chromium.log") +
        "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << fileBytes(dir.path("chromium.log"));
    const std::string dom = fileBytes(dir.path("dom.html")),
                      log = fileBytes(dir.path("chromium.log"));

    EXPECT_EQ(log.find(":CONSOLE"), std::string::npos) << log;
    static const std::regex chart(R"re(<figure class="chart[^>]*>[^]*?<svg viewBox="0 0 1000 )re");
    const auto charts = std::distance(std::sregex_iterator(dom.begin(), dom.end(), chart),
                                      std::sregex_iterator());
    EXPECT_EQ(charts, 5) << "protocol mix, bytes and frames over time, busiest intervals, endpoints";
    EXPECT_NE(dom.find(R"(<dd id="frames">72</dd>)"), std::string::npos);
    EXPECT_NE(dom.find(R"(<dd id="bytes">20,928</dd>)"), std::string::npos);
    const std::size_t endpoints = dom.find(R"(<section id="endpoints">)");
    ASSERT_NE(endpoints, std::string::npos);
    EXPECT_EQ(dom.find("<tbody>\n<tr><td>", endpoints),
              dom.find("<tbody>\n<tr><td>192.168.1.23</td>", endpoints))
        << "the top talker heads the endpoints";
}
