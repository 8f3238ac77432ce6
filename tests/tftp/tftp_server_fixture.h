// Fixture of the server tests: a free port, millisecond time-outs, the real file hooks with
// recording reporters, a temporary folder for the backup, and a server run that is always over
// (flag back at 0, socket and start-up released) before the test ends.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_settings.h"

namespace testing_support {

class TftpServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a server thread and returns once its socket is bound (or its run already ended).
    void StartServer();
    // Waits for the run started last to end; its outcome.
    TftpRunOutcome FinishRun();
    // Loads `bytes` as the image to serve.
    void LoadImage(const std::string& bytes);
    std::string TargetFileText() const { return ReadWholeFile(target); }
    bool TemporaryLeftBehind() const;

    std::uint16_t port = 0;
    std::string dir;
    std::string target;
    LogCapture log;
    std::uint32_t runsBefore = 0;
    bool started = false;
    TftpRunOutcome outcome;
};

// Beeps sounded through the dialog toolkit since the last InstallBeepCounter().
void InstallBeepCounter();
int BeepsSounded();

std::string PatternText(std::size_t size);  // all byte values, deterministic

}  // namespace testing_support
