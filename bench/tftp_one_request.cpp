// One-request TFTP server for side-by-side runs against other servers (bench/compare_servers.sh):
// our engine, exactly as a backup or restore command readies it, takes one request on loopback
// and exits.
//
//   tftp_one_request --serve FILE [--port N]   a read of "image" gets FILE
//   tftp_one_request --take PATH  [--port N]   a write of "upload-image" is stored in PATH
//
// Port 0 (the default) picks a free port. Once the server listens it prints
// "listening on 127.0.0.1:PORT" and flushes, so a script can start its client then. Requests are
// taken from 127.0.0.1 only. Exit code 0 when the file was served or stored, 1 for usage, 2 when
// the server could not be readied or the transfer did not succeed (the outcome is printed).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/config_file_hooks.h"
#include "bench/bench_support.h"
#include "platform/log.h"
#include "platform/net.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tftp/tftp_booking.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_settings.h"

namespace {

bool Quiet(int, const void*) {
    return true;
}
void Discard(std::string_view) {}

const char* ResultName(TftpRunResult result) {
    switch (result) {
        case TftpRunResult::FileServed:
            return "served";
        case TftpRunResult::LastAckMissing:
            return "last ACK missing";
        case TftpRunResult::FileStored:
            return "stored";
        case TftpRunResult::Failed:
            return "failed";
        case TftpRunResult::StoreFailed:
            return "store failed";
        case TftpRunResult::Refused:
            return "refused";
        case TftpRunResult::NoRequest:
            return "no request";
    }
    return "?";
}

int Usage() {
    std::fprintf(stderr, "usage: tftp_one_request (--serve FILE | --take PATH) [--port N]\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* serve = nullptr;
    const char* take = nullptr;
    long port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        if (option == "--serve")
            serve = argv[i + 1];
        else if (option == "--take")
            take = argv[i + 1];
        else if (option == "--port")
            port = std::strtol(argv[i + 1], nullptr, 10);
        else
            return Usage();
    }
    if (argc % 2 == 0 || (serve == nullptr) == (take == nullptr) || port < 0 || port > 65535)
        return Usage();

    plat::SetLogSink(Discard);
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, Quiet, Quiet);
    if (serve != nullptr && LoadFileImage(serve) != 1) {
        std::fprintf(stderr, "cannot load %s\n", serve);
        return 2;
    }
    if (take != nullptr) SetTargetPath(take);
    TftpSettings.Port = port != 0 ? static_cast<std::uint16_t>(port) : FreeUdpPort();
    DeviceAddress.store(plat::kLoopbackAddress);  // the client plays the device

    TftpBooking booking;
    if (BookSingleDeviceTransfer(TftpSettings.ReadyTimeoutMs, &booking) != TftpReadiness::Ready) {
        std::fprintf(stderr, "port %u cannot be opened\n", TftpSettings.Port);
        return 2;
    }
    std::printf("listening on 127.0.0.1:%u\n", TftpSettings.Port);
    std::fflush(stdout);

    const TftpRunOutcome outcome = AwaitTftpBooking(booking, TftpSettings.FirstRequestTimeoutMs);
    EndTftpDally();  // the client has its last ACK; no need to linger
    const bool good =
        outcome.Result == TftpRunResult::FileServed || outcome.Result == TftpRunResult::FileStored;
    std::fprintf(good ? stdout : stderr, "%s, %llu bytes\n", ResultName(outcome.Result),
                 static_cast<unsigned long long>(outcome.Bytes));
    return good ? 0 : 2;
}
