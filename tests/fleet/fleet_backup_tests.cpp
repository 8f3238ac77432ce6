// fleet-backup: the inventory's lines, and a small fleet of in-process simulated devices on their
// own loopback addresses with every kind of outcome, run twice into one store.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "fleet/fleet_history.h"
#include "fleet/fleet_inventory.h"
#include "fleet/fleet_run.h"
#include "platform/process.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/simulated_device_run.h"

namespace testing_support {
namespace {

TEST(FleetInventory, GoodAndBadLines) {
    // A name becomes NAME.cfg: 251 bytes make the longest file name there is.
    const std::string longName(251, 'n');
    const std::string longestName = "host,name\na," + longName + "\n";
    const std::string tooLongName = "host,name\na," + longName + "n\n";
    struct Case {
        const char* text;
        const char* error;      // empty: parses
        const char* firstHost;  // then: the first device's host, name, user, password file
        const char* firstName;
        const char* firstUser;
        const char* firstPasswordFile;
        std::uint16_t firstHttpPort = 0;
        const char* warning = "";  // of a text that parses
    };
    const Case cases[] = {
        {"host\n10.0.0.1\n", "", "10.0.0.1", "10.0.0.1", "", ""},
        {"# fleet\r\n\r\nname , host,user,password_file\r\n  # spare\r\n\"core, "
         "1\",sw1,admin,p.txt\r\n",
         "", "sw1", "core, 1", "admin", "p.txt"},
        {"host,name\n\"a\"\"b\",x\n", "line 2: the host holds a blank or a quote", "", "", "", ""},
        {"", "the inventory is empty", "", "", "", ""},
        {"# only\n", "the inventory has no header line", "", "", "", ""},
        {"\xEF\xBB\xBFHost,Colour,NAME,size\na,red,x,1\n", "", "a", "x", "", "", 0,
         "unknown columns \"Colour\", \"size\" ignored"},
        {"host,name\na,\x01\n", "line 2: the name holds a control character", "", "", "", ""},
        {"host,host\x02\nb\n", "", "b", "b", "", "", 0, "unknown column \"host\\x02\" ignored"},
        {"name\nx\n", "line 1: the header has no \"host\" column", "", "", "", ""},
        {"host,host\n", "line 1: column \"host\" given twice", "", "", "", ""},
        {"host\n\n#\na\n,\n", "line 5: more fields than the header names", "", "", "", ""},
        {"host,name\n,x\n", "line 2: the host is empty", "", "", "", ""},
        {"host,name\na,\"x\n", "line 2: a quoted field is not closed", "", "", "", ""},
        {"host,name\na,\"x\"y\n", "line 2: text after a quoted field", "", "", "", ""},
        {"host,name\na,a/x\n", "line 2: the name holds a character", "", "", "", ""},
        {"host,name\na,.x\n", "line 2: the name starts with a dot", "", "", "", ""},
        {"host,name\na,Core\nb,core\n", "line 3: the name \"core\" is already taken", "", "", "",
         ""},
        {"host\na b\n", "line 2: the host holds a blank", "", "", "", ""},
        {"host,tftp_address,device_tftp_address\na,10.0.0.1,b c\n",
         "line 2: the device_tftp_address holds a blank", "", "", "", ""},
        {"host,HTTP_Port\na,65535\nb,\n", "", "a", "a", "", "", 65535},
        {"host,http_port\na,0\n", "line 2: the http_port \"0\" is not a port (1 to 65535)", "",
         "", "", ""},
        {"host,http_port\na,65536\n", "line 2: the http_port \"65536\" is not a port", "", "", "",
         ""},
        {"host,http_port\na,+80\n", "line 2: the http_port \"+80\" is not a port", "", "", "", ""},
        {longestName.c_str(), "", "a", longName.c_str(), "", ""},
        {tooLongName.c_str(), "line 2: the name is longer than a file name may be", "", "", "",
         ""},
        {"host,name\na,Nul.1\n", "line 2: the name is one that Windows keeps for a device", "",
         "", "", ""},
        {"host\ncom1\n", "line 2: the name is one that Windows keeps for a device", "", "", "", ""},
        {"host,name\na,console\n", "", "a", "console", "", ""},
    };
    for (const Case& c : cases) {
        std::vector<FleetDevice> devices;
        std::string error, warning;
        const bool ok = ParseFleetInventory(c.text, &devices, &error, &warning);
        EXPECT_EQ(ok, *c.error == '\0') << c.text << " -> " << error;
        if (!ok) {
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
            continue;
        }
        ASSERT_FALSE(devices.empty()) << c.text;
        EXPECT_EQ(devices[0].host, c.firstHost);
        EXPECT_EQ(devices[0].name, c.firstName);
        EXPECT_EQ(devices[0].user, c.firstUser);
        EXPECT_EQ(devices[0].passwordFile, c.firstPasswordFile);
        EXPECT_EQ(devices[0].httpPort, c.firstHttpPort);
        EXPECT_EQ(warning, c.warning);
    }
}

// Devices run at once, except two whose hosts name the same address.
TEST(FleetRun, DevicesRunAtOnceButNeverTwiceOnOneAddress) {
    struct Watch {
        std::mutex lock;
        std::map<std::string, int> inside;  // by address
        bool overlapOnOneAddress = false;
        std::atomic<int> running{0};
        bool sawTwoAtOnce = false;
    } watch;
    const auto backUp = [](const FleetDevice& device, const std::string& scratch, void* context) {
        auto& w = *static_cast<Watch*>(context);
        const std::string address = device.host == "localhost" ? "127.0.0.1" : device.host;
        {
            std::lock_guard guard(w.lock);
            w.overlapOnOneAddress |= ++w.inside[address] > 1;
        }
        ++w.running;
        // Wait (bounded) for a second device to be inside as well.
        for (int i = 0; i < 60 && w.running.load() < 2; ++i) plat::SleepMs(5);
        {
            std::lock_guard guard(w.lock);
            w.sawTwoAtOnce |= w.running.load() >= 2;
            --w.inside[address];
        }
        plat::SleepMs(20);
        --w.running;
        WriteWholeFile(scratch, device.name);
        return FleetDeviceBackup{0, device.name.size(), ""};
    };
    const auto onResult = [](const FleetDeviceResult&, const FleetTally&, void*) {};
    std::vector<FleetDevice> devices;
    for (const char* host : {"127.0.0.1", "localhost", "127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
        FleetDevice device;
        device.host = host;
        device.name = std::to_string(devices.size());
        devices.push_back(device);
    }
    const std::string store = MakeTempDir();
    const FleetRunOutcome outcome =
        RunFleetBackup(devices, store, 4, FleetRunHooks{backUp, onResult, &watch});
    EXPECT_EQ(outcome.tally.stored, 5);
    EXPECT_FALSE(watch.overlapOnOneAddress);
    EXPECT_TRUE(watch.sawTwoAtOnce);
}

// One simulated device of the fleet, and what a run makes of it.
struct FleetMember {
    const char* name;
    std::uint32_t address;  // 127.0.0.N
    const char* before;     // the store's file before the first run; empty: none
    void (*fault)(SimOptions&);
    const char* status;  // in the report line
    int exitCode;        // in the report line of a failure
    bool storesText;     // afterwards the file holds the device's text (else `before`)
    // A failure's cause in its line, as the single-device command's line says it; {web}: the
    // web port.
    const char* cause = "";
};

std::string DeviceText(const std::string& name) {
    return "hostname " + name + "\n" + std::string(1200, 'c') + "\n";  // three blocks
}

std::string AsStored(const std::string& text) {
    std::string stored;
    for (const char c : text) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
}

constexpr std::uint32_t kNobody = 0x7f000009;  // nothing listens there

const FleetMember kFleet[] = {
    {"stored", 0x7f000001, "hostname old\r\n", nullptr, "stored", 0, true},
    {"unchanged", 0x7f000003, "=", nullptr, "unchanged", 0, true},
    {"refused", 0x7f000004, "good\r\n", [](SimOptions& o) { o.Faults.RefuseCredentials = true; },
     "failed", 3, false, ": ERROR: Invalid Username ( root ) or Password Entered"},
    {"silent", 0x7f000005, "good\r\n", [](SimOptions& o) { o.Faults.NeverAnswerProbe = true; },
     "failed", 4, false, ": 127.0.0.5:{web}: receive: no reply within 1 s"},
    {"broken", 0x7f000006, "good\r\n", [](SimOptions& o) { o.Tftp.SilentAfterSent = 2; }, "failed",
     5, false, ": 127.0.0.6: tftp: the transfer broke off: no DATA block-2 within 1500 ms"},
    {"unreachable", kNobody, "", nullptr, "failed", 4, false, ": 127.0.0.9:{web}: connect: "},
};

class FleetAgainstSimulators : public ::testing::Test {
  protected:
    void SetUp() override {
        tftpPort = PickFreeUdpPort();
        UseShortTimeouts(tftpPort);
        DeviceSettings.ProbeTimeoutMs = 1000;
        dir = MakeTempDir();
        store = dir + "/store";
        SetEnvironment("MORVANE_PASSWORD", nullptr);
        const bool distinct = LoopbackAliasesKeepTheirAddress();
        for (const FleetMember& m : kFleet)
            if (distinct || m.address == plat::kLoopbackAddress || m.address == kNobody)
                members.push_back(m);
        // Every device on its own address with one web port: try a few until one is free on all.
        for (int attempt = 0; attempt < 5 && !StartFleet(); ++attempt) devices.clear();
        ASSERT_FALSE(devices.empty());
    }
    void TearDown() override {
        for (auto& device : devices) device->Stop();
        for (int i = 0; i < 1000 && IsTftpServerRunning(); ++i) plat::SleepMs(10);
    }

    bool StartFleet() {
        httpPort = 0;
        for (const FleetMember& m : members) {
            if (m.address == kNobody) continue;
            SimOptions options = SimulatorOptions(dir, tftpPort);
            options.StatePath.clear();
            options.FactoryText = DeviceText(m.name);
            options.Listen = {m.address, httpPort};
            if (m.fault) m.fault(options);
            auto device = std::make_unique<DeviceSimulator>(options);
            if (!device->Start()) return false;
            httpPort = device->Endpoint().port;
            devices.push_back(std::move(device));
        }
        return true;
    }

    CliRun Fleet(const std::string& inventory, std::vector<std::string> extra = {}) {
        WriteWholeFile(dir + "/fleet.csv", inventory);
        std::vector<std::string> args{"fleet-backup",
                                      dir + "/fleet.csv",
                                      store,
                                      "--http-port",
                                      std::to_string(httpPort),
                                      "--tftp-port",
                                      std::to_string(tftpPort),
                                      "-j",
                                      "3"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }

    std::size_t RequestsSeen() const {
        std::size_t seen = 0;
        for (const auto& device : devices) seen += device->Requests().size();
        return seen;
    }

    std::uint16_t tftpPort = 0, httpPort = 0;
    std::string dir, store;
    std::vector<FleetMember> members;
    std::vector<std::unique_ptr<DeviceSimulator>> devices;
};

TEST_F(FleetAgainstSimulators, EveryDeviceGetsItsFileAndLineAndNothingGoodIsLost) {
    // A bad line stops the run before any device is asked anything.
    const CliRun bad = Fleet("host,name\n127.0.0.2,a\n127.0.0.3,.b\n");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("line 3: the name starts with a dot"), std::string::npos) << bad.err;
    EXPECT_EQ(RequestsSeen(), 0u);

    namespace fs = std::filesystem;
    std::string inventory = "host,name\n";
    fs::create_directory(store);
    for (const FleetMember& m : members) {
        inventory += plat::FormatIpv4(m.address) + "," + m.name + "\n";
        const std::string before =
            std::string(m.before) == "=" ? AsStored(DeviceText(m.name)) : m.before;
        if (!before.empty()) WriteWholeFile(store + "/" + m.name + ".cfg", before);
    }
    // A file stored by the first run keeps its time through the second.
    const auto storedFile = fs::path(store) / "stored.cfg";
    fs::file_time_type storedTime;
    const bool git = GitProgramAvailable() && members.size() == std::size(kFleet);

    for (int run = 0; run < 2; ++run) {
        const CliRun fleet = Fleet(inventory, git && run == 0 ? std::vector<std::string>{"--git"}
                                                              : std::vector<std::string>{});
        EXPECT_EQ(fleet.exitCode, 8) << fleet.err;
        for (const FleetMember& m : members) {
            const std::string status = run == 1 && m.storesText ? "unchanged" : m.status;
            const std::string head =
                std::string(m.name) + " (" + plat::FormatIpv4(m.address) + "): " + status + ", ";
            const std::size_t at = fleet.out.find(head);
            ASSERT_NE(at, std::string::npos) << head << "\n" << fleet.out;
            const std::string line = fleet.out.substr(at, fleet.out.find('\n', at) - at);
            if (m.exitCode == 0) {
                EXPECT_EQ(
                    line.rfind(
                        head + std::to_string(AsStored(DeviceText(m.name)).size()) + " bytes, ", 0),
                    0u)
                    << line;
            } else {
                std::string cause = m.cause;
                if (const std::size_t web = cause.find("{web}"); web != std::string::npos)
                    cause.replace(web, 5, std::to_string(httpPort));
                EXPECT_NE(line.find(cause), std::string::npos) << line;
                EXPECT_NE(line.find("(exit code " + std::to_string(m.exitCode) + ")"),
                          std::string::npos)
                    << line;
            }
            const std::string file = store + "/" + m.name + ".cfg";
            if (m.storesText)
                EXPECT_EQ(ReadWholeFile(file), AsStored(DeviceText(m.name))) << m.name;
            else if (*m.before)
                EXPECT_EQ(ReadWholeFile(file), m.before) << m.name;
            else
                EXPECT_FALSE(fs::exists(file)) << m.name;
        }
        int stored = 0, unchanged = 0, failed = 0;
        for (const FleetMember& m : members)
            ++(m.exitCode != 0                                    ? failed
               : run == 1 || std::string(m.status) == "unchanged" ? unchanged
                                                                  : stored);
        const std::string summary = "Fleet backup: " + std::to_string(members.size()) +
                                    " devices, " + std::to_string(stored) + " stored, " +
                                    std::to_string(unchanged) + " unchanged, " +
                                    std::to_string(failed) + " failed, in ";
        EXPECT_NE(fleet.out.find(summary), std::string::npos) << fleet.out;
        if (run == 0)
            storedTime = fs::last_write_time(storedFile);
        else
            EXPECT_EQ(fs::last_write_time(storedFile), storedTime);
    }
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(store))
        leftovers += entry.path().filename().string().rfind(".", 0) == 0 &&
                     entry.path().filename() != ".git" &&
                     entry.path().filename() != ".morvane-state";
    EXPECT_EQ(leftovers, 0u);  // no scratch file stays behind
    // The state file gives a failure's cause as the report line does.
    EXPECT_NE(ReadWholeFile(store + "/.morvane-state")
                  .find("\tfailed (exit code 4): 127.0.0.9:" + std::to_string(httpPort) +
                        ": connect: "),
              std::string::npos);

    if (!git) return;
    std::string log, files;
    ASSERT_EQ(plat::RunProgram({"git", "-C", store, "log", "--format=%s", "--name-only"}, &log), 0);
    EXPECT_EQ(log,  // the second run added and changed nothing: no commit
              "Fleet backup: 1 changed, 1 unchanged, 4 failed\n\n"
              "broken.cfg\nrefused.cfg\nsilent.cfg\nstored.cfg\nunchanged.cfg\n");
}

int GitIn(const std::string& folder, std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), {"git", "-C", folder});
    return plat::RunProgram(args, output);
}

int CommitCount(const std::string& repository) {
    std::string count;
    return GitIn(repository, {"rev-list", "--count", "HEAD"}, &count) == 0 ? std::stoi(count) : 0;
}

// The store's history over runs: what is committed, where, with which message, and when a run
// refuses to commit or fails to push.
TEST_F(FleetAgainstSimulators, TheHistoryRecordsWhatChangedAndOnlyThat) {
    if (!GitProgramAvailable()) GTEST_SKIP() << "no git program";
    enum class Before { Nothing, OneRun, OneRunThenOldText, EnclosingTree, Detached, Upstream };
    struct Case {
        const char* what;
        Before before;
        bool withUnreachable;  // a failed device in the run
        bool push;
        int exitCode;
        int newCommits;
        const char* message;  // held by the new commit's message, or else by the output
        const char* err;      // held by standard error; empty: nothing asked of it
    };
    const Case cases[] = {
        {"first run", Before::Nothing, true, false, 8, 1,
         "Fleet backup: 1 changed, 0 unchanged, 1 failed\n\nadded: stored\nfailed: unreachable "
         "(127.0.0.9): ",
         ""},
        {"nothing changed", Before::OneRun, false, false, 0, 0,
         "History: nothing was added or changed, so no commit", ""},
        {"a changed file", Before::OneRunThenOldText, false, false, 0, 1,
         "Fleet backup: 1 changed, 0 unchanged, 0 failed\n\nchanged: stored\n", ""},
        {"enclosing work tree", Before::EnclosingTree, false, false, 0, 1, "added: stored", ""},
        {"detached HEAD", Before::Detached, false, false, 8, 0, "", "has a detached HEAD"},
        {"push", Before::Upstream, false, true, 0, 1, "History: committed (1 added, 0 changed) and pushed", ""},
        {"push without upstream", Before::Nothing, false, true, 8, 1, "added: stored",
         "the push of the history failed"},
    };
    namespace fs = std::filesystem;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(store);
        fs::remove_all(dir + "/.git");
        fs::remove_all(dir + "/up.git");
        const std::string inventory =
            std::string("host,name\n127.0.0.1,stored\n") +
            (c.withUnreachable ? "127.0.0.9,unreachable\n" : "");
        std::string repository = store;
        if (c.before == Before::EnclosingTree) {
            ASSERT_EQ(GitIn(dir, {"init", "-q"}), 0);
            repository = dir;
        }
        if (c.before == Before::Upstream) {
            ASSERT_EQ(GitIn(dir, {"init", "-q", "--bare", "up.git"}), 0);
            ASSERT_EQ(GitIn(dir, {"clone", "-q", "up.git", "store"}), 0);
        }
        if (c.before == Before::OneRun || c.before == Before::OneRunThenOldText ||
            c.before == Before::Detached) {
            ASSERT_EQ(Fleet(inventory, {"--git"}).exitCode, 0);
            WriteWholeFile(store + "/stored.cfg", "hostname old\r\n");
            if (c.before != Before::OneRun) {  // the history holds an older text
                ASSERT_EQ(GitIn(store, {"-c", "user.name=t", "-c", "user.email=t@localhost",
                                        "commit", "-q", "-am", "old"}),
                          0);
            }
        }
        if (c.before == Before::OneRun) {
            ASSERT_EQ(Fleet(inventory, {"--git"}).exitCode, 0);
        }
        if (c.before == Before::Detached) {
            ASSERT_EQ(GitIn(store, {"checkout", "-q", "--detach"}), 0);
        }
        const int commitsBefore = CommitCount(repository);

        const CliRun run = Fleet(inventory, {c.push ? "--git-push" : "--git"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_EQ(ReadWholeFile(store + "/stored.cfg"), AsStored(DeviceText("stored")));
        EXPECT_EQ(CommitCount(repository), commitsBefore + c.newCommits);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        std::string message;
        if (c.newCommits > 0) GitIn(repository, {"log", "-1", "--format=%B"}, &message);
        EXPECT_NE((message + run.out).find(c.message), std::string::npos) << message << run.out;
        if (c.before == Before::EnclosingTree) {
            std::string files, untracked;
            GitIn(dir, {"show", "--format=", "--name-only", "HEAD"}, &files);
            EXPECT_EQ(files, "store/stored.cfg\n");  // nothing else of the enclosing tree
            EXPECT_FALSE(fs::exists(store + "/.git"));
        }
        if (c.before == Before::Upstream) {
            EXPECT_EQ(CommitCount(dir + "/up.git"), 1);
        }
    }
}

// A push to a remote that never answers ends at its limit with a cause, rather than holding the
// nightly run (and the store's lock) for ever.
TEST(FleetHistoryPush, ARemoteThatNeverAnswersEndsThePushAtItsLimit) {
    if (!GitProgramAvailable() || plat::RunProgram({"sleep", "0"}, nullptr) != 0)
        GTEST_SKIP() << "no git or sleep program";
    const std::string repository = testing::TempDir() + "/silent-remote";
    std::filesystem::remove_all(repository);
    for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
             {"init", "-q", "-b", "main", repository},
             {"-C", repository, "-c", "user.name=t", "-c", "user.email=t@localhost", "commit",
              "-q", "--allow-empty", "-m", "first"},
             {"-C", repository, "remote", "add", "origin", "ssh://nobody.invalid/store"},
             {"-C", repository, "config", "core.sshCommand", "sleep 600; :"},
             {"-C", repository, "config", "branch.main.remote", "origin"},
             {"-C", repository, "config", "branch.main.merge", "refs/heads/main"}}) {
        std::vector<std::string> argv{"git"};
        argv.insert(argv.end(), step.begin(), step.end());
        ASSERT_EQ(plat::RunProgram(argv, nullptr), 0) << step.back();
    }
    std::string error;
    EXPECT_FALSE(PushStoreHistory(repository, &error, 1000));
    EXPECT_NE(error.find("git push did not finish within 1 s"), std::string::npos) << error;
}

// A device whose configuration changed between two runs: its diff follows its line with the
// secrets masked, the store keeps the text as it is, and the JSON objects carry the counts.
TEST_F(FleetAgainstSimulators, AChangedDeviceShowsItsDiffWithSecretsMasked) {
    const std::string inventory = "host,name\n127.0.0.1,stored\n";
    const std::string lines = "interface eth0 speed auto\r\nsnmp on\r\n";
    const auto restore = [&](const std::string& password) {
        const std::string file = dir + "/restore.cfg";
        WriteWholeFile(file, "hostname stored\r\nuser root password " + password + "\r\n" + lines);
        const CliRun run = RunCli({"restore", "127.0.0.1", file, "--http-port",
                                   std::to_string(httpPort), "--tftp-port",
                                   std::to_string(tftpPort)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    };
    restore("hunter1");
    const CliRun first = Fleet(inventory, {"--json", "--diff"});
    EXPECT_NE(first.out.find("\"lines_added\":4,\"lines_removed\":0}"), std::string::npos)
        << first.out;  // a new device: all lines added, no diff
    const std::string before = ReadWholeFile(store + "/stored.cfg");

    restore("hunter2");
    const CliRun second = Fleet(inventory, {"--diff"});
    const std::string diff =
        "--- stored.cfg (stored)\n+++ stored.cfg (127.0.0.1)\n@@ -1,4 +1,4 @@\n hostname stored\n"
        "-user root password ********\n+user root password ********\n interface eth0 speed "
        "auto\n snmp on\n";
    const std::size_t line = second.out.find("stored (127.0.0.1): stored, ");
    ASSERT_NE(line, std::string::npos) << second.out;
    const std::size_t lineEnd = second.out.find('\n', line) + 1;
    EXPECT_EQ(second.out.substr(lineEnd, second.out.find("Fleet backup: ") - lineEnd), diff);
    EXPECT_EQ(second.out.find("hunter"), std::string::npos) << second.out;
    EXPECT_NE(ReadWholeFile(store + "/stored.cfg").find("user root password hunter2\r\n"),
              std::string::npos);

    for (const bool withDiff : {false, true}) {
        WriteWholeFile(store + "/stored.cfg", before);
        std::vector<std::string> options{"--json"};
        if (withDiff) options.push_back("--diff");
        const CliRun json = Fleet(inventory, options);
        EXPECT_NE(json.out.find("\"lines_added\":1,\"lines_removed\":1"), std::string::npos)
            << json.out;
        EXPECT_EQ(json.out.find("\"diff\":\"--- stored.cfg (stored)\\n") != std::string::npos,
                  withDiff)
            << json.out;
        EXPECT_EQ(json.out.find("hunter"), std::string::npos) << json.out;
    }
}

// The cause of a device's failure to get the TFTP port names the step and the system's words.
TEST_F(FleetAgainstSimulators, AHeldTftpPortIsTheCauseInTheReport) {
    const plat::SocketHandle holder = plat::UdpOpen();
    ASSERT_TRUE(plat::SocketBind(holder, {plat::kAnyAddress, tftpPort}));
    const CliRun fleet = Fleet("host,name\n127.0.0.1,stored\n");
    plat::SocketClose(holder);
    EXPECT_EQ(fleet.exitCode, 8);
    const std::size_t at = fleet.out.find("stored (127.0.0.1): failed, ");
    ASSERT_NE(at, std::string::npos) << fleet.out;
    const std::string line = fleet.out.substr(at, fleet.out.find('\n', at) - at);
    const std::string cause = "port " + std::to_string(tftpPort) + ": bind: ";
    EXPECT_NE(line.find(cause), std::string::npos) << line;
    EXPECT_NE(line.find(" (another program holds it) (exit code 7)"), std::string::npos) << line;
}

}  // namespace
}  // namespace testing_support
