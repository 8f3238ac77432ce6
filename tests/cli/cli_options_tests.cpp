// morvane-cli without a device: its arguments, password sources and outcome wording, the answers
// it gives to the commands' questions, and the order of what it writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>
#include <utility>

#include "app/command_texts.h"
#include "app/panel_texts.h"
#include "cli/cli_options.h"
#include "cli/cli_outcome.h"
#include "cli/cli_reporting.h"
#include "cli/cli_toolkit.h"
#include "cli/password_source.h"
#include "cli/tftp_port_failure.h"
#include "morvane_version.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tests/cli/cli_harness.h"
#include "tests/support/test_support.h"

using testing_support::RunCli;

namespace {

TEST(CliArguments, MistakesAreUsageErrorsWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"dump", "h"}, "unknown command dump"},
        {{"backup", "h"}, "backup takes HOST and FILE"},
        {{"probe", "h", "extra"}, "probe takes HOST"},
        {{"backup", "h", "f", "--http-port", "0"}, "--http-port takes a port number"},
        {{"backup", "h", "f", "--tftp-port", "70000"}, "--tftp-port takes a port number"},
        {{"backup", "h", "f", "--tftp-port"}, "--tftp-port needs a value"},
        {{"backup", "h", "f", "--password", "x"}, "never taken from the command line"},
        {{"backup", "h", "f", "--factory-reset"}, "--factory-reset goes with restore"},
        {{"backup", std::string(128, 'h'), "f"}, "HOST is longer than 127"},
        {{"restore", "h", "f", "-u", std::string(80, 'u')}, "user name is longer than 79"},
        {{"restore", "h", "f", "--frobnicate"}, "unknown option --frobnicate"},
        {{"probe", "h", "--probe-timeout", "0"}, "--probe-timeout takes a number of seconds"},
        {{"backup", "h", "f", "--command-timeout", "1.5"}, "--command-timeout takes a number"},
        {{"fleet-backup", "inventory.csv"}, "fleet-backup takes INVENTORY and STORE"},
        {{"fleet-backup", "i", "s", "-j", "0"}, "-j takes a number of devices from 1 to 256"},
        {{"backup", "h", "f", "-j", "4"}, "-j goes with fleet-backup"},
        {{"backup", "h", "f", "--git"}, "--git goes with fleet-backup"},
        {{"backup", "h", "f", "--safety-backup", "s"}, "--safety-backup goes with restore"},
        {{"restore", "h", "f", "--safety-backup", "f"}, "needs a file other than"},
        {{"backup", "h", "f", "--verify"}, "--verify goes with restore"},
        {{"probe", "h", "--force"}, "--force goes with restore"},
        {{"restore", "h", "f", "--dry-run", "--factory-reset"}, "--dry-run sends nothing"},
        {{"restore", "h", "f", "--dry-run", "--safety-backup", "s"}, "--dry-run sends nothing"},
        {{"probe", "h", "--tftp-address", "10.0.0.1"}, "--tftp-address goes with backup, restore"},
        {{"fleet-backup", "i", "s", "--device-tftp-address", "10.0.0.1"},
         "--device-tftp-address goes with backup and restore"},
        {{"backup", "h", "f", "--tftp-address", "no-such-host.invalid"},
         "--tftp-address takes an IPv4 address"},
        {{"restore", "h", "f", "--device-tftp-address", "0.0.0.0"},
         "--device-tftp-address takes an IPv4 address"},
        // What getopt_long refuses, named by the tool in its own words.
        {{"backup", "h", "f", "--frob=2"}, "unknown option --frob"},
        {{"backup", "h", "f", "-vx"}, "unknown option -x"},
        {{"backup", "h", "f", "--tftp"}, "ambiguous option --tftp (--tftp-port or --tftp-address)"},
        {{"backup", "h", "f", "--verify=yes"}, "--verify takes no value"},
        {{"fleet-backup", "i", "s", "-vj"}, "-j needs a value"},
        {{"fleet-backup", "i", "s", "--jo"}, "--jobs needs a value"},
        {{"fleet-backup", "i", "s", "--jobs=x"}, "--jobs takes a number of devices"},
        {{"backup", "h", "f", "--jobs=4"}, "--jobs goes with fleet-backup"},
        {{"probe", "h", "--password=x"}, "never taken from the command line"},
        {{"probe", "h", "-vp"}, "never taken from the command line"},
        {{"probe", "h", "--", "--json"}, "probe takes HOST"},
        {{"backup", "h", "f", "--password-file", "p", "--ask-password"},
         "--password-file and --ask-password are two sources"},
    };
    for (const Case& c : cases) {
        // One line that says what is wrong, then the short usage line: not the whole help.
        const auto run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.reason;
        EXPECT_EQ(run.err.rfind("morvane-cli: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        const std::size_t lineEnd = run.err.find('\n');
        ASSERT_NE(lineEnd, std::string::npos);
        EXPECT_EQ(run.err.substr(lineEnd + 1), kCliUsageLine) << run.err;
        EXPECT_TRUE(run.out.empty());
        // With --json (here at the end, after the mistake) the same reason is an object on
        // standard output; the exit code stays.
        std::vector<std::string> json = c.args;
        if (json.size() < 2 || json[json.size() - 2] != "--") json.push_back("--json");
        const auto jsonRun = RunCli(json);
        const std::string reason = run.err.substr(13, lineEnd - 13);
        EXPECT_EQ(jsonRun.exitCode, 1);
        if (c.args.size() >= 2 && c.args[c.args.size() - 2] == "--") {
            EXPECT_EQ(jsonRun.out, "") << "--json after -- is an argument";
        } else if (!std::string_view(c.reason).ends_with("needs a value")) {
            EXPECT_EQ(jsonRun.out, UsageErrorJson(reason)) << jsonRun.err;
        }
    }
    EXPECT_EQ(UsageErrorJson("-x \"y\""),
              "{\"ok\":false,\"exit_code\":1,\"result\":\"usage-error\",\"error\":\"usage\","
              "\"message\":\"-x \\\"y\\\"\"}\n");
}

TEST(CliArguments, OptionsAreTakenInAnyOrder) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions({"-v", "restore", "--json", "dev.lan", "-u", "admin", "x.cfg",
                                 "--factory-reset", "--http-port", "8080", "--tftp-port", "6970",
                                 "--probe-timeout", "3", "--command-timeout", "86400"},
                                &o, &error))
        << error;
    EXPECT_EQ(o.command, CliCommand::Restore);
    EXPECT_EQ(o.host, "dev.lan");
    EXPECT_EQ(o.file, "x.cfg");
    EXPECT_EQ(o.user, "admin");
    EXPECT_TRUE(o.factoryReset && o.verbose && o.json);
    EXPECT_EQ(o.httpPort, 8080);
    EXPECT_EQ(o.tftpPort, 6970);
    EXPECT_EQ(o.probeTimeoutSeconds, 3);
    EXPECT_EQ(o.commandTimeoutSeconds, 86400);
}

// The GNU conventions, and a parser that starts afresh at every call (getopt_long's state is
// the process's).
TEST(CliArguments, ValuesAfterEqualsBundlesAndTheEndOfOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string host, file, user;
        int parallel;
        bool verbose, quiet;
    };
    const Case cases[] = {
        {{"fleet-backup", "i", "s", "-j16"}, "i", "s", "root", 16, false, false},
        {{"fleet-backup", "--jobs=3", "i", "s", "-vq"}, "i", "s", "root", 3, false, true},
        {{"-qvj", "4", "fleet-backup", "i", "s"}, "i", "s", "root", 4, true, false},
        {{"backup", "--user=", "h", "-uadmin", "--verb", "f"}, "h", "f", "admin", 8, true, false},
        {{"backup", "-u", "--", "--", "-h", "-"}, "-h", "-", "--", 8, false, false},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            CliOptions o;
            std::string error;
            ASSERT_TRUE(ParseCliOptions(c.args, &o, &error)) << error;
            EXPECT_EQ(o.host + "|" + o.file + "|" + o.user, c.host + "|" + c.file + "|" + c.user);
            EXPECT_EQ(o.parallel, c.parallel) << c.args[0];
            EXPECT_EQ(o.verbose, c.verbose) << c.args[0];
            EXPECT_EQ(o.quiet, c.quiet) << c.args[0];
        }
        CliOptions o;
        std::string error;
        EXPECT_FALSE(ParseCliOptions({"probe", "h", "-vx"}, &o, &error));  // left mid-bundle
    }
}

TEST(CliArguments, HelpListsEveryExitCode) {
    const auto run = RunCli({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* line : {"  0  success", "  3  the device refused the credentials",
                             "  7  the TFTP port cannot be opened"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    EXPECT_EQ(RunCli({"--version"}).out, "morvane-cli " MORVANE_VERSION "\n");
}

TEST(CliPassword, FileThenEnvironmentThenDefault) {
    const std::string dir = testing_support::MakeTempDir();
    testing_support::WriteWholeFile(dir + "/pw", "s3cret\r\nsecond line\n");
    CliOptions o;
    std::string password, error;
    o.passwordFile = dir + "/pw";
    testing_support::SetEnvironment("MORVANE_PASSWORD", "from-env");
    ASSERT_TRUE(ResolvePassword(o, &password, &error));
    EXPECT_EQ(password, "s3cret");

    o.passwordFile.clear();
    ASSERT_TRUE(ResolvePassword(o, &password, &error));
    EXPECT_EQ(password, "from-env");

    testing_support::SetEnvironment("MORVANE_PASSWORD", nullptr);
    ASSERT_TRUE(ResolvePassword(o, &password, &error));
    EXPECT_EQ(password, "tundra");

    // A file its group or others can read is taken, with a warning that names it and its mode
    // (POSIX only: Windows files carry no such modes, and nothing is said).
    using std::filesystem::perms;
    for (const auto& [mode, octal] : {std::pair{perms::owner_read | perms::group_read, "0440"},
                                      std::pair{perms::owner_all | perms::others_read, "0704"},
                                      std::pair{perms::owner_read | perms::group_write, ""},
                                      std::pair{perms::owner_read, ""}}) {
        std::filesystem::permissions(dir + "/pw", mode);
        const std::string warning = PasswordFileWarning(dir + "/pw");
#ifdef _WIN32
        EXPECT_EQ(warning, "");
#else
        EXPECT_EQ(warning.empty(), *octal == '\0') << warning;
        if (*octal != '\0') {
            EXPECT_EQ(warning.rfind("morvane-cli: warning: ", 0), 0u);
            EXPECT_NE(warning.find(dir + "/pw (mode " + octal + ")"), std::string::npos) << warning;
        }
#endif
    }
    std::filesystem::permissions(dir + "/pw", perms::owner_read | perms::owner_write);

    o.passwordFile = dir + "/missing";
    EXPECT_FALSE(ResolvePassword(o, &password, &error));
    EXPECT_NE(error.find("cannot read the password file"), std::string::npos);
    EXPECT_EQ(RunCli({"backup", "h", "f", "--password-file", dir + "/missing"}).exitCode, 1);
}

TEST(CliOutcome, JsonEscapesWhatItQuotes) {
    CliOutcome o;
    o.command = "backup";
    o.host = "h\"1";
    o.file = "C:\\cfg\\a.cfg";
    o.exitCode = 5;
    o.result = ResultWord(5);
    o.detail = "line\nnext\x01";
    EXPECT_EQ(OutcomeJson(o),
              "{\"command\":\"backup\",\"host\":\"h\\\"1\",\"file\":\"C:\\\\cfg\\\\a.cfg\","
              "\"ok\":false,\"exit_code\":5,\"result\":\"transfer-failed\",\"bytes\":0,"
              "\"detail\":\"line\\nnext\\u0001\"}\n");
}

std::string capturedErr;
void CaptureErr(std::string_view text) { capturedErr.append(text); }
void DropOut(std::string_view) {}
const CliIo kCaptureIo{DropOut, CaptureErr, false};

TEST(CliQuestions, EachIsAnsweredByItsIdentityNotByItsButtons) {
    const auto ask = [](CommandBox box, unsigned flags) {
        return plat::Toolkit().ShowMessageBox(nullptr, "?", "?", flags, static_cast<int>(box));
    };
    const unsigned yesNo = plat::kMbYesNo | plat::kMbIconQuestion;
    for (const bool factoryReset : {true, false}) {
        CliToolkitSetup setup;
        setup.factoryReset = factoryReset;
        setup.io = &kCaptureIo;
        RegisterCliToolkit(setup);
        EXPECT_EQ(ask(CommandBox::FactoryQuestion, yesNo), factoryReset ? plat::kIdYes : plat::kIdNo);
        EXPECT_EQ(ask(CommandBox::NoFileName, plat::kMbYesNoCancel), plat::kIdNo);
        // A yes/no question the tool does not know never takes the --factory-reset answer.
        EXPECT_EQ(ask(static_cast<CommandBox>(99), yesNo), plat::kIdNo);
        EXPECT_EQ(ask(CommandBox::BackupFailed, kErrorBox), plat::kIdOk);
    }
}

TEST(CliReports, AReportFromTheServerThreadIsWrittenByTheMainThreadInItsOrder) {
    capturedErr.clear();
    StartCliReporting(kCaptureIo, false);
    SetHost("10.0.0.5");
    std::thread server([] {
        CliReportError(ERR_SEND, nullptr);
        WriteDiagnostic("after the report\n");
    });
    server.join();
    EXPECT_EQ(capturedErr, "");  // handed over, not composed on that thread

    CliReportError(ERR_CONNECT, nullptr);  // the main thread writes what waited first
    EXPECT_EQ(capturedErr, ComposePanelText(ERR_SEND, "10.0.0.5", "") + "\nafter the report\n" +
                               ComposePanelText(ERR_CONNECT, "10.0.0.5", "") + "\n");
    EXPECT_EQ(LastReportedError(), ERR_CONNECT);
}

TEST(CliOutcome, JsonKeepsUtf8AndEscapesEveryOtherHighByte) {
    CliOutcome o;
    o.command = "probe";
    o.host = "caf\xc3\xa9-\xf0\x9f\x98\x80";  // well-formed: copied as it is
    // Latin-1, a cut sequence, an overlong form, a surrogate, a byte that never starts one.
    o.file = "\xe9|\xe2\x82|\xc0\xaf|\xed\xa0\x80|\xff";
    o.result = ResultWord(0);
    EXPECT_EQ(OutcomeJson(o),
              "{\"command\":\"probe\",\"host\":\"caf\xc3\xa9-\xf0\x9f\x98\x80\","
              "\"file\":\"\\u00e9|\\u00e2\\u0082|\\u00c0\\u00af|\\u00ed\\u00a0\\u0080|\\u00ff\","
              "\"ok\":true,\"exit_code\":0,\"result\":\"completed\",\"bytes\":0}\n");
}

// The two causes the device tests cannot stage: a privileged port, and a server not ready in time
// (a non-socket event says nothing about the port).
TEST(CliOutcome, TftpPortFailuresNameTheirCause) {
    using plat::SocketErrorKind;
    struct Case {
        SocketSetupFailure failure;
        const char* line;
    };
    const Case cases[] = {
        {{ERR_BIND, SocketErrorKind::NeedsPrivilege, "Permission denied"},
         "port 69: bind: Permission denied (ports below 1024 need root or "
         "CAP_NET_BIND_SERVICE)"},
        {DescribeSocketSetupFailure(ERR_CREDENTIALS, 13),
         "the TFTP server was not ready within 3000 ms"},
    };
    for (const Case& c : cases) EXPECT_EQ(TftpPortFailureText(c.failure, 69, 3000), c.line);
}

}  // namespace
