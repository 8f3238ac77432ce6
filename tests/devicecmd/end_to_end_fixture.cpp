#include "tests/devicecmd/end_to_end_fixture.h"

#include "app/config_file_hooks.h"
#include "platform/threads.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"

void EndToEndTest::SetUp() {
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, TransferHooks.ReportError,
                          TransferHooks.ReportStatus);
    ChannelTest::SetUp();  // keeps the file hooks, installs the noting reporters
    savedTftp_ = TftpSettings;
    TftpSettings.Port = testing_support::PickFreeUdpPort();
    TftpSettings.FirstRequestTimeoutMs = 10000;
    TftpSettings.RetransmitInitialMs = 200;
    TftpSettings.RetransmitMaxMs = 400;
    TftpSettings.TransferTimeoutMs = 2000;
    dir_ = testing_support::MakeTempDir();
    options_.StatePath = dir_ + "/device-state.cfg";
    options_.FactoryText = "hostname factory\n";
    options_.Tftp.ServerPort = TftpSettings.Port;
    options_.Tftp.RetransmitMs = 200;
    options_.Tftp.MaxRetransmits = 5;
    options_.Tftp.DallyMs = 300;
}

void EndToEndTest::TearDown() {
    sim_.reset();
    WaitForServerEnd();
    TftpSettings = savedTftp_;
    ChannelTest::TearDown();
}

DeviceSimulator& EndToEndTest::StartSim() {
    sim_ = std::make_unique<DeviceSimulator>(options_);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    UseDevice(sim_->Endpoint().port);
    return *sim_;
}

void EndToEndTest::EnsureTftpServer() {
    if (IsTftpServerRunning() == 0) StartTftpServer(2);
    // The flag rises once the thread's socket is open; a device asked before that would find
    // nobody listening.
    for (int i = 0; i < 100 && IsTftpServerRunning() == 0; ++i) plat::SleepMs(10);
}

bool EndToEndTest::WaitForServerEnd(int limitMs) {
    for (int waited = 0; IsTftpServerRunning() != 0; waited += 200) {
        if (waited >= limitMs) return false;
        plat::SleepMs(200);
    }
    EndTftpDally();  // a stored write's dally may still hold the server's socket
    return true;
}

std::string ConfigText(int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i)
        text += "set line " + std::to_string(i) + " value " +
                std::string(static_cast<std::size_t>(i % 37), 'v') + "\n";
    return text;
}

