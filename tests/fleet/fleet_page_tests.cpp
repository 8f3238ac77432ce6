// fleet-backup's page: what it shows of a run, that hostile texts stay text, that it refers to
// nothing outside itself, what a browser makes of it, and how the command writes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "cli/fleet_page_output.h"
#include "fleet/fleet_history.h"
#include "fleet/fleet_page.h"
#include "platform/process.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"

namespace testing_support {
namespace {

constexpr std::int64_t kMadeAt = 1796796000;  // 2026-12-09 06:00 UTC

FleetDeviceResult Result(int line, const char* name, const char* host, FleetDeviceStatus status) {
    FleetDeviceResult result;
    result.device.line = line;
    result.device.name = name;
    result.device.host = host;
    result.status = status;
    result.lastGoodTime = kMadeAt;
    return result;
}

constexpr const char* kHostileName = "<b>x</b>&amp;";
constexpr const char* kHostileHost = "\"><script>alert(1)</script>";

// A run with every kind of row, given in finishing order.
std::vector<FleetDeviceResult> MixedRun() {
    auto changed = Result(2, "core-1", "10.0.0.1", FleetDeviceStatus::Stored);
    changed.bytes = 1234;
    changed.linesAdded = changed.linesRemoved = 1;
    changed.diff =
        "--- core-1.cfg\n+++ core-1.cfg\n@@ -1,2 +1,2 @@\n hostname core-1\r\n"
        "-ip address 10.0.0.1\r\n+ip address 10.0.0.2 </pre><script>x()</script>\r\n";
    auto hostile = Result(3, kHostileName, kHostileHost, FleetDeviceStatus::Failed);
    hostile.cause = "no answer <img src=x onerror=alert(1)>";
    hostile.exitCode = 4;
    hostile.lastGoodTime = kMadeAt - (3 * 24 + 2) * 3600;
    hostile.stale = true;
    auto same = Result(4, "edge", "edge", FleetDeviceStatus::Unchanged);
    same.bytes = 999;
    auto fresh = Result(5, "new-one", "10.0.0.5", FleetDeviceStatus::Stored);
    fresh.linesAdded = 12;
    auto never = Result(1, "lost", "10.0.0.9", FleetDeviceStatus::Failed);
    never.lastGoodTime = 0;
    never.cause = "refused";
    never.exitCode = 3;
    return {same, changed, hostile, fresh, never};
}

std::string MixedPage() {
    FleetTally tally{5, 2, 1, 2, 1, 12.3};
    return FleetPage(FleetPageRun{"/var/lib/morvane/site-a", kMadeAt, false}, tally, MixedRun());
}

// Every tag of the page: a hostile text that got through unescaped would be one of them.
std::vector<std::string> Tags(const std::string& html) {
    std::vector<std::string> tags;
    for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1))
        tags.push_back(html.substr(at, html.find('>', at) + 1 - at));
    return tags;
}

TEST(FleetPage, ShowsTheRunWithHostileTextsAsText) {
    const std::string page = MixedPage();
    for (const char* shown : {
             "<title>Fleet backup 2026-12-09 06:00 UTC: 2 of 5 devices failed</title>",
             "<meta charset=\"utf-8\">",
             "class=\"banner bad\">2 of 5 devices failed</div>",
             "/var/lib/morvane/site-a \xC2\xB7 2026-12-09 06:00 UTC \xC2\xB7 took 12.3 s",
             "<b>1</b>stale</span>",
             "&lt;b&gt;x&lt;/b&gt;&amp;amp;",
             "&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;",
             "no answer &lt;img src=x onerror=alert(1)&gt; <span class=\"none\">(exit code 4)",
             "<td class=\"stale\">3 d 2 h</td>",
             "<td class=\"none\">never</td>",
             "<td>new file, 12 lines</td>",
             "<td class=\"none\">no</td>",
             "<a href=\"#diff-1\">",
             "<details open id=\"diff-1\"><summary>core-1 ",
             "<span class=\"del\">-ip address 10.0.0.1</span>",
             "<span class=\"add\">+ip address 10.0.0.2 &lt;/pre&gt;&lt;script&gt;",
             "<span class=\"hunk\">@@ -1,2 +1,2 @@</span><span> hostname core-1</span>",
         })
        EXPECT_NE(page.find(shown), std::string::npos) << shown;
    EXPECT_EQ(page.find("id=\"diff-2\""), std::string::npos);  // only core-1 has a diff

    // Failed first, then changed, then unchanged; inventory order within each.
    std::size_t previous = 0;
    for (const char* row : {"<td>lost", "<td>&lt;b&gt;", "<td>core-1", "<td>new-one", "<td>edge"}) {
        const std::size_t at = page.find(row);
        ASSERT_NE(at, std::string::npos) << row;
        EXPECT_GT(at, previous) << row;
        previous = at;
    }

    // Nothing outside the page is fetched or linked.
    for (const std::string& tag : Tags(page)) {
        EXPECT_EQ(tag.find("src="), std::string::npos) << tag;
        EXPECT_EQ(tag.find("<script"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("<img"), std::string::npos) << tag;
        const std::size_t href = tag.find("href=");
        if (href != std::string::npos) {
            EXPECT_EQ(tag.compare(href, 7, "href=\"#"), 0) << tag;
        }
    }
    const std::string style = page.substr(page.find("<style>"), page.find("</style>"));
    EXPECT_EQ(style.find("url("), std::string::npos);
    EXPECT_EQ(style.find("@import"), std::string::npos);
}

TEST(FleetPage, HeadlinesAgesAndTimes) {
    struct Case {
        FleetTally tally;
        bool interrupted;
        const char* banner;
    };
    const Case cases[] = {
        {{3, 2, 1, 0, 0, 1}, false, "class=\"banner ok\">All 3 devices backed up<"},
        {{1, 1, 0, 0, 0, 1}, false, "class=\"banner ok\">The device was backed up<"},
        {{2, 2, 0, 0, 1, 1}, false, "class=\"banner warn\">All 2 devices backed up, 1 stale<"},
        {{4, 1, 0, 1, 0, 1},
         true,
         "class=\"banner warn\">Interrupted after 2 of 4 devices, 1 failed<"},
        {{1, 0, 0, 1, 1, 1}, false, "class=\"banner bad\">1 of 1 device failed<"},
    };
    for (const Case& c : cases) {
        const std::string page = FleetPage(FleetPageRun{"s", kMadeAt, c.interrupted}, c.tally, {});
        EXPECT_NE(page.find(c.banner), std::string::npos) << c.banner;
    }
    const std::pair<std::int64_t, const char*> ages[] = {
        {-5, "under a minute"},   {59, "under a minute"},
        {42 * 60 + 59, "42 min"}, {5 * 3600 + 180, "5 h 3 min"},
        {5 * 3600, "5 h"},        {(3 * 24 + 4) * 3600 + 59, "3 d 4 h"},
        {48 * 3600, "2 d"}};
    for (const auto& [seconds, text] : ages) EXPECT_EQ(AgeText(seconds), text) << seconds;
    EXPECT_EQ(UtcTimeText(0), "1970-01-01 00:00 UTC");
    EXPECT_EQ(UtcTimeText(1709251140), "2024-02-29 23:59 UTC");
    EXPECT_EQ(HtmlEscaped("a\x01\x7f\tb\n'"), "a\\x01\\x7F\tb\n&#39;");
}

// What a person sees in a browser: the page's text as Chromium renders it into its document.
TEST(FleetPage, ChromiumShowsTheRunAndNoInjectedMarkup) {
    if (plat::RunProgram({"chromium", "--version"}, nullptr) != 0 ||
        plat::RunProgram({"sh", "-c", "true"}, nullptr) != 0)
        GTEST_SKIP() << "no chromium here";
    const std::string dir = MakeTempDir();
    WriteWholeFile(dir + "/page.html", MixedPage());
    const int code = plat::RunProgram(
        {"sh", "-c",
         "chromium --headless --no-sandbox --disable-gpu --user-data-dir=\"$1/profile\" "
         "--dump-dom \"file://$1/page.html\" >\"$1/dom.html\" 2>/dev/null",
         "sh", dir},
        nullptr);
    ASSERT_EQ(code, 0);
    const std::string dom = ReadWholeFile(dir + "/dom.html");
    ASSERT_NE(dom.find("</table>"), std::string::npos) << dom;
    // The document holds no element the page did not write.
    for (const std::string& tag : Tags(dom)) {
        EXPECT_EQ(tag.find("<script"), std::string::npos) << tag;
        EXPECT_EQ(tag.find("<img"), std::string::npos) << tag;
    }
    // Its text, as read off the screen.
    std::string text = std::regex_replace(dom, std::regex("<style>[^<]*</style>"), "");
    text = std::regex_replace(text, std::regex("<[^>]*>"), "\x1f");
    for (const auto& [entity, c] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}})
        text = std::regex_replace(text, std::regex(entity), c);
    for (const char* seen :
         {"2 of 5 devices failed", kHostileName, kHostileHost,
          "no answer <img src=x onerror=alert(1)>", "3 d 2 h", "never", "new file, 12 lines",
          "-ip address 10.0.0.1", "+ip address 10.0.0.2 </pre><script>x()</script>", "edge",
          "What changed (secrets masked)"})
        EXPECT_NE(text.find(std::string("\x1f") + seen), std::string::npos) << seen;
}

// The command writes the page in one step at the run's end, keeps it out of the store's
// history, refuses one that would take a device's file, and fails a run whose page it cannot
// write (the devices' files stay stored).
class FleetPageFromTheCommand : public ::testing::Test, public SimulatedDeviceRun {
  protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
        options.StatePath.clear();
        options.FactoryText = "hostname stored\n";
        StartDevice();
    }
    void TearDown() override { FinishDeviceRun(); }
};

TEST_F(FleetPageFromTheCommand, WrittenWholeOutOfTheHistoryOrReportedAsFailed) {
    const bool git = GitProgramAvailable();
    struct Case {
        const char* what;
        const char* page;  // under the test's folder
        bool withGit;
        int exitCode;
        const char* err;  // held by standard error
    };
    const Case cases[] = {
        {"inside the store, with history", "store/index.html", true, 0, ""},
        {"elsewhere", "index.html", false, 0, ""},
        {"in a folder that is missing", "missing/index.html", false, 8, "cannot be written"},
        {"a device's file", "store/stored.cfg", false, 1, "is the file of the device stored"},
    };
    namespace fs = std::filesystem;
    WriteWholeFile(dir + "/fleet.csv", "host,name\n127.0.0.1,stored\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.withGit && !git) continue;
        fs::remove_all(dir + "/store");
        const std::string page = dir + "/" + c.page;
        std::vector<std::string> args{"fleet-backup",
                                      dir + "/fleet.csv",
                                      dir + "/store",
                                      "--http-port",
                                      std::to_string(DeviceSettings.Port),
                                      "--tftp-port",
                                      std::to_string(tftpPort),
                                      "--html",
                                      page};
        if (c.withGit) args.push_back("--git");
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(FleetPageScratchPath(page)));
        if (c.exitCode == 1) continue;
        EXPECT_EQ(ReadWholeFile(dir + "/store/stored.cfg"), WithCrLf("hostname stored\n"));
        if (c.exitCode != 0) {
            EXPECT_NE(run.err.find("the devices' files are stored"), std::string::npos);
            continue;
        }
        const std::string html = ReadWholeFile(page);
        EXPECT_NE(html.find("The device was backed up"), std::string::npos) << html;
        EXPECT_NE(html.find("<td>stored<br><span class=\"host\">127.0.0.1</span>"),
                  std::string::npos);
        if (!c.withGit) continue;
        std::string status;
        ASSERT_EQ(plat::RunProgram({"git", "-C", dir + "/store", "status", "--porcelain",
                                    "--untracked-files=all"},
                                   &status),
                  0);
        EXPECT_EQ(status, "");  // the page is not a file the history might take
    }
}

}  // namespace
}  // namespace testing_support
