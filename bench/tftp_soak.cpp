// Soak run of the TFTP server against real clients (tftp-hpa's `tftp`, `atftp`, `curl`) at their
// default timers, through the lossy relay, with the server at its own defaults. Not part of CI:
// a full run takes hours. Prints one table row per cell (condition x client x direction x size).
//
//   tftp_soak [--count N] [--seed S] [--conditions loss10,loss30,dup5] [--sizes 0,511,...]
//             [--clients tftp,atftp,curl] [--ways get,put] [--port P] [--verbose]
//
// --port puts the server on port P instead of a free one the system picks (bench/tftp_soak.sh
// --jobs runs many of these at once, each on a port of its own).
//
// Each transfer ends in one of these columns:
//   ok         the client succeeded and the server says so, with the right bytes on both sides
//   lastack    get: every block went out, the client has the file, its last ACK never arrived
//              (the server reports LastAckMissing, not success)
//   gaveup     the client failed although the server did its part (put: text stored; get:
//              served): the client's own doing, e.g. giving up on a duplicate
//   clean      the transfer failed, both sides say so, the old backup is intact
//   FALSE      the server reports success for a transfer the client did not complete, or the
//              client reports success for one the server did not complete
//   CORRUPT    wrong bytes stored or received
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/config_file_hooks.h"
#include "bench/bench_support.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/support/lossy_udp_relay.h"
#include "tftp/tftp_dally.h"
#include "tftp/tftp_outcome.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

using testing_support::LossyUdpRelay;
using testing_support::RelayFaults;

bool Quiet(int, const void*) {
    return true;
}
void Discard(std::string_view) {}

struct Condition {
    std::string name;
    double loss;
    double duplication;
};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 7 + i / 256 + seed) & 0xff);
    return text;
}

std::string WithCarriageReturns(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string ClientCommand(const std::string& client, bool get, std::uint16_t port,
                          const std::string& local, const std::string& errors) {
    const std::string p = std::to_string(port);
    std::string line;
    if (client == "tftp")
        line = "tftp -m octet 127.0.0.1 " + p + " -c " +
               (get ? "get image " + local : "put " + local + " upload-image");
    else if (client == "atftp")
        line = std::string("atftp ") + (get ? "-g -r image" : "-p -r upload-image") + " -l " +
               local + " 127.0.0.1 " + p;
    else
        line = "curl -sS --tftp-no-options " +
               (get ? "-o " + local + " tftp://127.0.0.1:" + p + "/image"
                    : "-T " + local + " tftp://127.0.0.1:" + p + "/upload-image");
    return "timeout 3600 " + line + " >" + errors + " 2>&1";
}

enum Column { kOk, kLastAck, kGaveUp, kClean, kFalse, kCorrupt, kColumns };
const char* const kColumnNames[] = {"ok", "lastack", "gaveup", "clean", "FALSE", "CORRUPT"};

struct Transfer {
    Column column;
    double seconds;
    std::string note;
};

Transfer RunOne(const std::string& dir, const Condition& condition, const std::string& client,
                bool get, std::size_t size, std::uint32_t seed) {
    const std::string local = dir + "/client-side";
    const std::string errors = dir + "/client-errors";
    const std::string target = dir + "/backup.cfg";
    std::filesystem::remove(local);
    const std::string text = Pattern(size, seed);
    if (get) {
        WriteAll(dir + "/image", text);
        LoadFileImage((dir + "/image").c_str());
    } else {
        WriteAll(local, text);
        WriteAll(target, "old backup");
        SetTargetPath(target.c_str());
    }
    RelayFaults faults;
    faults.dropRate = condition.loss;
    faults.duplicateRate = condition.duplication;

    const auto started = std::chrono::steady_clock::now();
    const std::uint32_t runsBefore = TftpRunsEnded();
    StartTftpServer(2);
    while (IsTftpServerRunning() == 0 && TftpRunsEnded() == runsBefore) plat::SleepMs(1);
    int exitCode = 0;
    std::string trace;
    {
        LossyUdpRelay relay(plat::Ipv4Endpoint{plat::kLoopbackAddress, TftpSettings.Port}, faults,
                            faults, seed);
        exitCode = std::system(ClientCommand(client, get, relay.Port(), local, errors).c_str());
        // The server may still wait for the last ACK, or for a request the relay lost.
        while (TftpRunsEnded() == runsBefore || IsTftpServerRunning() != 0) plat::SleepMs(5);
        relay.Stop();
        trace = relay.TraceText();
    }
    EndTftpDally();
    const TftpRunOutcome run = LastTftpRunOutcome();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::string note = ReadAll(errors);
    // tftp-hpa's client ends with status 0 after an ERROR packet; it says so on its output.
    const bool clientOk = exitCode == 0 && note.find("rror") == std::string::npos &&
                          note.find("timed out") == std::string::npos;
    if (const auto end = note.find('\n'); end != std::string::npos) note.resize(end);
    Column column;
    if (get) {
        const bool exact = ReadAll(local) == text;
        if (clientOk && !exact)
            column = kCorrupt;
        else if (run.Result == TftpRunResult::FileServed)
            column = clientOk ? kOk : kGaveUp;
        else if (run.Result == TftpRunResult::LastAckMissing)
            column = clientOk ? kLastAck : kClean;
        else
            column = clientOk ? kFalse : kClean;
    } else {
        const std::string stored = ReadAll(target);
        const bool whole = stored == WithCarriageReturns(text);
        if (!whole && stored != "old backup")
            column = kCorrupt;
        else if (run.Result == TftpRunResult::FileStored)
            column = !whole ? kCorrupt : clientOk ? kOk : kGaveUp;
        else
            column = whole ? kCorrupt : clientOk ? kFalse : kClean;
    }
    if (std::getenv("SOAK_TRACE") != nullptr && column != kOk)
        std::fprintf(stderr, "---- %s %s %zu seed %u\n%s", client.c_str(), get ? "get" : "put",
                     size, seed, trace.c_str());
    return Transfer{column, seconds, note};
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20;
    std::uint32_t seed = 1;
    bool verbose = false;
    int port = 0;
    std::vector<std::string> conditionNames = {"loss10", "loss30", "dup5"};
    std::vector<std::string> sizes = {"0", "511", "512", "70000", "1000000"};
    std::vector<std::string> clients = {"tftp", "atftp", "curl"};
    std::vector<std::string> ways = {"get", "put"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--count")
            count = std::atoi(value().c_str());
        else if (arg == "--seed")
            seed = static_cast<std::uint32_t>(std::atoi(value().c_str()));
        else if (arg == "--conditions")
            conditionNames = Split(value());
        else if (arg == "--sizes")
            sizes = Split(value());
        else if (arg == "--clients")
            clients = Split(value());
        else if (arg == "--ways")
            ways = Split(value());
        else if (arg == "--port")
            port = std::atoi(value().c_str());
        else if (arg == "--verbose")
            verbose = true;
        else {
            std::fprintf(stderr, "unknown option %s (see the head of bench/tftp_soak.cpp)\n",
                         arg.c_str());
            return 1;
        }
    }
    const std::map<std::string, Condition> known = {
        {"loss10", {"10% loss", 0.10, 0.0}},
        {"loss30", {"30% loss", 0.30, 0.0}},
        {"dup5", {"5% dup", 0.0, 0.05}},
    };

    plat::SetLogSink(Discard);
    RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, Quiet, Quiet);
    DeviceAddress.store(plat::kLoopbackAddress);  // the clients play the device
    TftpSettings.Port = port > 0 && port < 65536 ? static_cast<std::uint16_t>(port) : FreeUdpPort();
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("morvane-soak-" + std::to_string(TftpSettings.Port)))
                                .string();
    std::filesystem::create_directories(dir);

    std::printf(
        "| condition | client | way | size | ok | lastack | gaveup | clean | FALSE | "
        "CORRUPT | mean s | max s |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    std::uint32_t transferSeed = seed;
    for (const std::string& name : conditionNames) {
        const auto found = known.find(name);
        if (found == known.end()) continue;
        for (const std::string& client : clients)
            for (const std::string& way : ways)
                for (const std::string& size : sizes) {
                    int columns[kColumns] = {};
                    double total = 0, longest = 0;
                    for (int n = 0; n < count; ++n) {
                        const Transfer t = RunOne(dir, found->second, client, way == "get",
                                                  static_cast<std::size_t>(std::atol(size.c_str())),
                                                  transferSeed++);
                        ++columns[t.column];
                        total += t.seconds;
                        longest = std::max(longest, t.seconds);
                        if (verbose && t.column != kOk)
                            std::fprintf(stderr, "%s %s %s %s: %s (%.1f s) %s\n", name.c_str(),
                                         client.c_str(), way.c_str(), size.c_str(),
                                         kColumnNames[t.column], t.seconds, t.note.c_str());
                    }
                    std::printf(
                        "| %s | %s | %s | %s | %d | %d | %d | %d | %d | %d | %.1f | %.1f |\n",
                        found->second.name.c_str(), client.c_str(), way.c_str(), size.c_str(),
                        columns[kOk], columns[kLastAck], columns[kGaveUp], columns[kClean],
                        columns[kFalse], columns[kCorrupt], count > 0 ? total / count : 0.0,
                        longest);
                    std::fflush(stdout);
                }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
