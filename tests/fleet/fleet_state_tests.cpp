// fleet-backup's records of each device: the age and staleness in the report, the store's state
// file, and the metrics file, checked by promtool where it is installed.
#include <gtest/gtest.h>

#include "fleet/fleet_history.h"
#include "fleet/fleet_metrics.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_state.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"

namespace testing_support {
namespace {

constexpr std::int64_t kNow = 1796796600;  // 2026-12-09T06:10:00Z

// A failed device's line: how old its last good backup is, and whether it is stale.
TEST(FleetRecords, AgeAndStalenessInAFailedDevicesLine) {
    struct Case {
        std::int64_t lastGood;  // 0: never
        int maxAgeHours;
        const char* tail;  // the line after the exit code
    };
    const Case cases[] = {
        {kNow - 59, 0, "; last good backup less than a minute ago"},
        {kNow - 60, 0, "; last good backup 1 minute ago"},
        {kNow - 3599, 0, "; last good backup 59 minutes ago"},
        {kNow - 3600 * 23 - 3599, 24, "; last good backup 23 hours ago"},
        {kNow - 86400 * 3 - 5, 24, "; last good backup 3 days ago, stale"},
        {kNow + 100, 1, "; last good backup less than a minute ago"},  // clock set back
        {0, 0, "; never backed up"},
        {0, 1, "; never backed up, stale"},
    };
    for (const Case& c : cases) {
        FleetState state;
        if (c.lastGood != 0) state["a"].lastGood = c.lastGood;
        FleetDeviceResult result;
        result.device.name = result.device.host = "a";
        result.exitCode = 4;
        StampFleetResult(state, result, kNow, c.maxAgeHours);
        const std::string line = FleetDeviceLine(result);
        EXPECT_EQ(line.substr(line.find("(exit code 4)") + 13), std::string(c.tail) + "\n");
        EXPECT_EQ(state["a"].lastAttempt, kNow);
        EXPECT_EQ(state["a"].result, "failed (exit code 4)");
    }
    // A device that just succeeded is never stale, and its last good backup is now.
    FleetState state;
    FleetDeviceResult good;
    good.device.name = "a";
    good.status = FleetDeviceStatus::Unchanged;
    StampFleetResult(state, good, kNow, 1);
    EXPECT_FALSE(good.stale);
    EXPECT_EQ(good.lastGoodTime, kNow);
    EXPECT_NE(FleetDeviceJson(good, [](const std::string& s) { return "\"" + s + "\""; })
                  .find(",\"last_good\":\"2026-12-09T06:10:00Z\",\"stale\":false,"),
              std::string::npos);
}

TEST(FleetRecords, StateFileReadsBackAndRefusesDamage) {
    FleetState state;
    state["core-1"] = {kNow - 86400, kNow, "failed (exit code 3)"};
    state["new"] = {0, kNow, "failed (exit code 4)"};
    FleetState back;
    std::string error;
    ASSERT_TRUE(ParseFleetState(FormatFleetState(state), &back, &error)) << error;
    EXPECT_EQ(FormatFleetState(back), FormatFleetState(state));
    EXPECT_NE(FormatFleetState(state).find("core-1\t2026-12-08T06:10:00Z\t2026-12-09T06:10:00Z\t"),
              std::string::npos);

    const char* header = "name\tlast_good\tlast_attempt\tresult\n";
    const std::pair<std::string, const char*> damaged[] = {
        {"", "no header line"},
        {"name,last_good\n", "line 1: not the header line"},
        {std::string(header) + "a\t-\t-\n", "line 2: 4 fields expected, 3 found"},
        {std::string(header) + "a\t2026-02-29T00:00:00Z\t-\tstored\n",
         "line 2: the last good backup is not a time"},
        {std::string(header) + "a\t-\t2026-12-09 06:10:00\tstored\n",
         "line 2: the last attempt is not a time"},
        {std::string(header) + "a\t-\t-\tx\r\n#\na\t-\t-\ty\n", "line 4: the device a is named twice"},
    };
    for (const auto& [text, expected] : damaged) {
        EXPECT_FALSE(ParseFleetState(text, &back, &error)) << text;
        EXPECT_EQ(error, expected);
    }
    EXPECT_EQ(MetricLabelValue("a\"b\\c\nd"), "\"a\\\"b\\\\c\\nd\"");
}

bool PromtoolAvailable() {
    return plat::RunProgram({"promtool", "--version"}, nullptr) == 0;
}

class FleetRecordsAgainstASimulator : public ::testing::Test, public SimulatedDeviceRun {
  protected:
    void SetUp() override {
        PrepareDeviceRun();
        SetEnvironment("MORVANE_PASSWORD", nullptr);
        StartDevice();
    }
    void TearDown() override { FinishDeviceRun(); }
};

// One run of a good device and an unreachable one whose last good backup was three days ago,
// into a store whose state also knows a device that has left the inventory.
TEST_F(FleetRecordsAgainstASimulator, StateAgeStalenessAndMetrics) {
    const std::string store = dir + "/store", metrics = dir + "/fleet.prom";
    ASSERT_TRUE(plat::MakeDirectory(store.c_str()));
    FleetState before;
    before["gone"] = {kNow - 7200, kNow - 7200, "stored"};
    before["unreachable"] = {kNow - 3 * 86400 - 60, kNow - 3600, "failed (exit code 4)"};
    WriteWholeFile(FleetStatePath(store), FormatFleetState(before));
    WriteWholeFile(dir + "/fleet.csv", "host,name\n127.0.0.1,good\n127.0.0.9,unreachable\n");
    const bool git = GitProgramAvailable();
    std::vector<std::string> args{"fleet-backup", dir + "/fleet.csv", store, "--http-port",
                                  std::to_string(device->Endpoint().port), "--tftp-port",
                                  std::to_string(tftpPort), "--max-age", "48",
                                  "--metrics-file", metrics};
    if (git) args.push_back("--git");
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 8) << run.err;

    EXPECT_NE(run.out.find("(exit code 4); last good backup 3 days ago, stale\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(" 1 failed, 1 stale, in "), std::string::npos) << run.out;
    FleetState after;
    std::string error;
    ASSERT_EQ(LoadFleetState(store, &after, &error), FleetStateLoad::Read) << error;
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after["gone"].lastAttempt, kNow - 7200);  // not in this run: kept
    EXPECT_EQ(after["unreachable"].lastGood, before["unreachable"].lastGood);
    EXPECT_GT(after["unreachable"].lastAttempt, kNow);
    EXPECT_EQ(after["good"].lastGood, after["good"].lastAttempt);
    EXPECT_EQ(after["good"].result, "stored");

    const std::string text = ReadWholeFile(metrics);
    EXPECT_NE(text.find("morvane_fleet_run_stale_devices 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("morvane_fleet_device_last_attempt_success{device=\"good\",host="
                        "\"127.0.0.1\"} 1\n"),
              std::string::npos)
        << text;
    if (git) {
        std::string tracked, status;
        plat::RunProgram({"git", "-C", store, "ls-files"}, &tracked);
        plat::RunProgram({"git", "-C", store, "status", "--porcelain"}, &status);
        EXPECT_EQ(tracked, "good.cfg\n");
        EXPECT_EQ(status, "");  // the state file is not even untracked
    }
    if (!PromtoolAvailable()) GTEST_SKIP() << "no promtool";
    std::string verdict;
    EXPECT_EQ(plat::RunProgram({"sh", "-c", "promtool check metrics < '" + metrics + "'"},
                               &verdict),
              0)
        << verdict;
}

}  // namespace
}  // namespace testing_support
