// Whole commands as the operator runs them: Backup and Restore against the in-process device
// simulator on loopback, dialog answered by a fixed back end. Measures what the utility adds to
// the device's own time: two probes, the device commands, the TFTP transfer, the file work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/command_report.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/dialog_ids.h"
#include "bench/bench_support.h"
#include "devicecmd/device_settings.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_settings.h"

namespace {

std::string chosenFile;
bool factoryReset = false;

int GetField(plat::WindowRef, int id, char* text, int maxCount) {
    const char* value = id == IDC_HOST       ? "127.0.0.1"
                        : id == IDC_USERNAME ? "root"
                        : id == IDC_PASSWORD ? "tundra"
                        : id == IDC_FILENAME ? chosenFile.c_str()
                                             : "";
    std::strncpy(text, value, static_cast<std::size_t>(maxCount - 1));
    text[maxCount - 1] = '\0';
    return static_cast<int>(std::strlen(text));
}
bool SetField(plat::WindowRef, int, const char*) { return true; }
void Focus(plat::WindowRef, int) {}
int Box(plat::WindowRef, const char*, const char*, unsigned flags, int) {
    return (flags & 0xF) == plat::kMbYesNo ? (factoryReset ? plat::kIdYes : plat::kIdNo)
                                           : plat::kIdOk;
}
void Beep(unsigned) {}
bool FileDialog(plat::WindowRef, const plat::FileDialogSettings&, char* path, std::size_t) {
    std::strcpy(path, chosenFile.c_str());
    return true;
}
bool Quiet(int, const void*) { return true; }
void Discard(std::string_view) {}

// A simulated device holding a configuration of `size` bytes, and everything pointed at it.
// With requestOnce its TFTP client sends the request at once and never again.
std::unique_ptr<DeviceSimulator> PrepareDevice(std::size_t size, const std::string& dir,
                                               bool requestOnce = false) {
    plat::SetLogSink(Discard);
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, Quiet, Quiet);
    plat::RegisterDialogToolkit({GetField, SetField, Focus, Box, Beep, FileDialog});
    TftpSettings.Port = FreeUdpPort();
    SimOptions options;
    options.Tftp.ServerPort = TftpSettings.Port;
    options.Tftp.DallyMs = 0;  // measure the utility, not a device lingering after the last block
    options.Tftp.RequestOnce = requestOnce;
    options.FactoryText.clear();
    while (options.FactoryText.size() < size) options.FactoryText += "set parameter value 0123\n";
    options.FactoryText.resize(size);
    options.StatePath = dir + "/device.txt";
    std::filesystem::remove(options.StatePath);  // a restore of an earlier run changed it
    auto device = std::make_unique<DeviceSimulator>(options);
    device->Start();
    DeviceSettings.Port = device->Endpoint().port;
    return device;
}

std::string BenchDir() {
    const auto dir = std::filesystem::temp_directory_path() / "morvane-command-bench";
    std::filesystem::create_directories(dir);
    return dir.string();
}

void WaitForServerEnd() {
    while (IsTftpServerRunning()) plat::SleepMs(1);
}

void BM_Backup(benchmark::State& state) {
    const std::string dir = BenchDir();
    const auto device = PrepareDevice(static_cast<std::size_t>(state.range(0)), dir);
    chosenFile = dir + "/backup.cfg";
    for (auto _ : state) {
        if (RunBackupCommand(nullptr, &ConnectionSettings).Result != CommandResult::Completed)
            state.SkipWithError("failed");
        state.PauseTiming();
        WaitForServerEnd();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    device->Stop();
}

void BM_Restore(benchmark::State& state) {
    const std::string dir = BenchDir();
    const auto device = PrepareDevice(0, dir);
    chosenFile = dir + "/restore.cfg";
    {
        std::string text;
        while (text.size() < static_cast<std::size_t>(state.range(0))) text += "set x 1\r\n";
        text.resize(static_cast<std::size_t>(state.range(0)));
        FILE* f = std::fopen(chosenFile.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    for (auto _ : state) {
        if (RunRestoreCommand(nullptr, &ConnectionSettings).Result != CommandResult::Completed)
            state.SkipWithError("failed");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    device->Stop();
}

// Backups back to back, without waiting for a server run to end, from a device that sends its
// request at once and only once. Every one must complete; "failed" counts those that did not.
void BM_BackupsInARow(benchmark::State& state) {
    const std::string dir = BenchDir();
    const auto device = PrepareDevice(4 << 10, dir, true);
    chosenFile = dir + "/backup.cfg";
    int failed = 0;
    for (auto _ : state) {
        if (RunBackupCommand(nullptr, &ConnectionSettings).Result != CommandResult::Completed)
            ++failed;
    }
    state.counters["failed"] = failed;
    WaitForServerEnd();
    device->Stop();
}

}  // namespace

BENCHMARK(BM_BackupsInARow)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Backup)->Arg(4 << 10)->Arg(256 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Restore)->Arg(4 << 10)->Arg(256 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
