// The -s option of the command line, the default credentials, and the error panel's texts.
#include <gtest/gtest.h>

#include <string>

#include "app/panel_texts.h"
#include "app/startup.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "tests/support/test_support.h"

namespace {

struct OptionCase {
    const char* commandLine;
    const char* host;
};

class HostOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(HostOption, TakesTheWordAfterTheFirstOccurrence) {
    EXPECT_EQ(FindHostOption(GetParam().commandLine), GetParam().host);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, HostOption,
    ::testing::Values(OptionCase{"-s 192.168.1.5", "192.168.1.5"},
                      OptionCase{"-s192.168.1.5", "192.168.1.5"},  // glued to the option
                      OptionCase{"app.exe -s", ""},                // last two characters
                      OptionCase{"-s\tdevice.lan", "device.lan"},  // a tab, then the name
                      OptionCase{"-S 10.0.0.1", ""},               // case-sensitive
                      OptionCase{"x-serve", "erve"},               // inside a word
                      OptionCase{"-s first -s second", "first"},   // only the first counts
                      OptionCase{"-s   \"quoted name\"", "\"quoted"},
                      OptionCase{"", ""}));

TEST(Startup, DefaultCredentialsWithOrWithoutHost) {
    ApplyStartupSettings("-s 10.9.8.7");
    EXPECT_STREQ(ConnectionSettings.Host, "10.9.8.7");
    EXPECT_STREQ(ConnectionSettings.UserName, "root");
    EXPECT_STREQ(ConnectionSettings.Password, "tundra");
}

TEST(Startup, AHostWordLongerThanTheFieldIsIgnoredWithADiagnostic) {
    testing_support::LogCapture log;
    SetHost("");
    ApplyStartupSettings(("-s " + std::string(128, 'h')).c_str());
    EXPECT_STREQ(ConnectionSettings.Host, "");
    EXPECT_TRUE(log.Contains("longer than 127"));

    ApplyStartupSettings(("-s " + std::string(127, 'h')).c_str());
    EXPECT_EQ(std::string(ConnectionSettings.Host), std::string(127, 'h'));
}

TEST(SharedRecords, SettersNeverOverrunTheirField) {
    SetUserName(std::string(300, 'u').c_str());
    EXPECT_EQ(std::string(ConnectionSettings.UserName).size(), 79u);
    SetTargetPath(std::string(400, 'p').c_str());
    EXPECT_EQ(GetTargetPath().size(), 259u);
}

TEST(PanelTexts, EachCodeHasItsSentenceFilledAndTheCommonTail) {
    const std::string tail =
        "\n\nPlease check that the desired server is correctly connected to the network and that "
        "the IP Address is correct";
    EXPECT_EQ(ComposePanelText(ERR_SOCKETS_SETUP, "h", "u"),
              "ERROR: An error has occured when trying to setup the Windows Sockets." + tail);
    EXPECT_EQ(ComposePanelText(ERR_CONNECT, "10.0.0.9", "u"),
              "ERROR: TFTP Server unable to connect to the requested Server: 10.0.0.9." + tail);
    EXPECT_EQ(ComposePanelText(ERR_RESOLVE, "nas.lan", "u"),
              "ERROR: An Error has occured when attempting to resolve the requested DNS Name: "
              "nas.lan." +
                  tail);
    EXPECT_EQ(ComposePanelText(ERR_CREDENTIALS, "h", "admin"),
              "ERROR: Invalid Username ( admin ) or Password Entered\n\nPlease check that both the "
              "username and password are correct");
    for (int code = 1; code <= 11; ++code) EXPECT_FALSE(ComposePanelText(code, "h", "u").empty());
    EXPECT_TRUE(ComposePanelText(0, "h", "u").empty());
    EXPECT_TRUE(ComposePanelText(12, "h", "u").empty());
}

TEST(PanelTexts, TheLongestTextHasRoomForAFullHost) {
    const std::string host(127, 'a');
    EXPECT_EQ(ComposePanelText(ERR_RECEIVE, host.c_str(), "u").size(), 338u);
}

}  // namespace
