// Throughput of the TFTP server over loopback: a read transfer of the loaded image and a write
// transfer into the backup file, each driven by a minimal lock-step client in this process.
// The server thread's start and end are outside the timed part; the transfer itself is timed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/config_file_hooks.h"
#include "bench/bench_support.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Quiet(int, const void*) {
    return true;
}
void Discard(std::string_view) {}

std::string WorkDir() {
    static const std::string dir = [] {
        const auto path = std::filesystem::temp_directory_path() / "morvane-tftp-bench";
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return dir;
}

void Prepare() {
    static bool done = false;
    if (done) return;
    done = true;
    plat::SetLogSink(Discard);
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, Quiet, Quiet);
    TftpSettings.Port = FreeUdpPort();
}

// A client socket on 127.0.0.1 talking to the server's port.
struct Client {
    plat::SocketHandle socket;
    plat::Ipv4Endpoint server{plat::kLoopbackAddress, TftpSettings.Port};
    Bytes area = Bytes(600);
    Client() {
        plat::NetStartup();
        socket = plat::UdpOpen();
        plat::SocketBind(socket, plat::Ipv4Endpoint{plat::kLoopbackAddress, 0});
    }
    ~Client() {
        plat::SocketClose(socket);
        plat::NetCleanup();
    }
    void Send(const Bytes& d) { plat::SocketSendTo(socket, d, server); }
    int Receive() {
        plat::Ipv4Endpoint from{};
        return plat::SocketRecvFrom(socket, area, &from, 2000);
    }
    std::uint16_t Field(std::size_t at) const {
        return static_cast<std::uint16_t>(area[at] << 8 | area[at + 1]);
    }
};

Bytes Header(std::uint16_t opcode, std::uint16_t field) {
    return Bytes{static_cast<std::uint8_t>(opcode >> 8), static_cast<std::uint8_t>(opcode),
                 static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field)};
}

Bytes Request(std::uint16_t opcode, const std::string& name) {
    std::string text(1, '\0');
    text += static_cast<char>(opcode);
    text += name;
    text += '\0';
    text += "octet";
    text += '\0';
    return Bytes(text.begin(), text.end());
}

std::uint32_t runsBefore = 0;

void StartRun() {
    DeviceAddress.store(plat::kLoopbackAddress);  // the bench client plays the device
    runsBefore = TftpRunsEnded();
    StartTftpServer(2);
    while (IsTftpServerRunning() == 0 && TftpRunsEnded() == runsBefore) plat::SleepMs(1);
}

void EndRun() {
    while (TftpRunsEnded() == runsBefore || IsTftpServerRunning() != 0) plat::SleepMs(1);
}

// Returns the image bytes received.
std::size_t Download(Client& client) {
    client.Send(Request(1, "image"));
    std::size_t total = 0;
    for (;;) {
        const int n = client.Receive();
        if (n < 4 || client.Field(0) != 3) return total;
        total += static_cast<std::size_t>(n - 4);
        client.Send(Header(4, client.Field(2)));
        if (n < 516) return total;
    }
}

std::size_t Upload(Client& client, std::size_t size) {
    client.Send(Request(2, "upload-image"));
    if (client.Receive() != 4) return 0;
    Bytes data(516, 'x');
    for (std::uint32_t block = 1;; ++block) {
        const std::size_t offset = (block - 1) * 512u;
        const std::size_t length = std::min<std::size_t>(512, size - offset);
        data.resize(4 + length);
        data[0] = 0;
        data[1] = 3;
        data[2] = static_cast<std::uint8_t>(block >> 8);
        data[3] = static_cast<std::uint8_t>(block);
        client.Send(data);
        if (client.Receive() != 4 || client.Field(2) != static_cast<std::uint16_t>(block)) return 0;
        if (length < 512) return size;
    }
}

void BM_ReadTransfer(benchmark::State& state) {
    Prepare();
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string path = WorkDir() + "/image.cfg";
    std::ofstream(path, std::ios::binary) << std::string(size, 'c');
    if (LoadFileImage(path.c_str()) != 1) state.SkipWithError("image not loaded");
    for (auto _ : state) {
        state.PauseTiming();
        StartRun();
        Client client;
        state.ResumeTiming();
        if (Download(client) != size) state.SkipWithError("read transfer incomplete");
        state.PauseTiming();
        EndRun();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_WriteTransfer(benchmark::State& state) {
    Prepare();
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string target = WorkDir() + "/backup.cfg";
    SetTargetPath(target.c_str());
    for (auto _ : state) {
        state.PauseTiming();
        StartRun();
        Client client;
        state.ResumeTiming();
        if (Upload(client, size) != size) state.SkipWithError("write transfer incomplete");
        state.PauseTiming();
        EndRun();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

BENCHMARK(BM_ReadTransfer)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WriteTransfer)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
