#include "tests/tftp/tftp_server_fixture.h"

#include <atomic>
#include <filesystem>

#include "app/config_file_hooks.h"
#include "platform/dialog_toolkit.h"
#include "platform/fault_injection.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_server.h"

namespace testing_support {
namespace {

constexpr int kRunBoundMs = 20000;
std::atomic<int> beeps{0};

void CountBeep(unsigned) {
    ++beeps;
}

template <typename Done>
void WaitUntil(Done done) {
    for (int waited = 0; !done() && waited < kRunBoundMs; waited += 2) plat::SleepMs(2);
}

}  // namespace

void InstallBeepCounter() {
    plat::DialogToolkit toolkit = plat::Toolkit();
    toolkit.SoundBeep = CountBeep;
    plat::RegisterDialogToolkit(toolkit);
    beeps = 0;
}
int BeepsSounded() {
    return beeps.load();
}

std::string PatternText(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return text;
}

void TftpServerTest::SetUp() {
    plat::ClearInjectedFailures();
    port = PickFreeUdpPort();
    TftpSettings = TftpSettingsRecord{};
    TftpSettings.Port = port;
    TftpSettings.FirstRequestTimeoutMs = 5000;
    TftpSettings.RetransmitInitialMs = 1000;
    TftpSettings.RetransmitMaxMs = 2000;
    TftpSettings.TransferTimeoutMs = 5000;
    DeviceAddress.store(plat::kLoopbackAddress);  // the test peers play the device
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
    InstallRecordingReporters();
    ClearRecordedEvents();
    InstallBeepCounter();
    dir = MakeTempDir();
    target = dir + "/backup.cfg";
    SetTargetPath(target.c_str());
}

void TftpServerTest::TearDown() {
    if (started) FinishRun();
    plat::ClearInjectedFailures();
    EXPECT_EQ(IsTftpServerRunning(), 0);
    EXPECT_EQ(plat::OpenSocketCount(), 0);
    EXPECT_EQ(plat::NetStartupCount(), 0);
    EXPECT_EQ(TargetFile, plat::kNoFile);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void TftpServerTest::StartServer() {
    runsBefore = TftpRunsEnded();
    started = true;
    StartTftpServer(2);
    WaitUntil([&] { return IsTftpServerRunning() != 0 || TftpRunsEnded() != runsBefore; });
}

TftpRunOutcome TftpServerTest::FinishRun() {
    if (!started) return outcome;
    WaitUntil([&] { return TftpRunsEnded() != runsBefore && IsTftpServerRunning() == 0; });
    EXPECT_EQ(IsTftpServerRunning(), 0) << "the server run did not end";
    EndTftpDally();  // so that the run's socket is closed when the test looks
    started = false;
    outcome = LastTftpRunOutcome();
    return outcome;
}

void TftpServerTest::LoadImage(const std::string& bytes) {
    const std::string path = dir + "/image.cfg";
    WriteWholeFile(path, bytes);
    ASSERT_EQ(LoadFileImage(path.c_str()), 1);
}

bool TftpServerTest::TemporaryLeftBehind() const {
    return std::filesystem::exists(target + kTemporarySuffix);
}

}  // namespace testing_support
