// Restores through the lossy relay, the device's TFTP client being tftp-hpa's `tftp` at its own
// timers, each against a fresh simulated device: how each restore ends, beside what the device
// really holds afterwards. Not part of CI (about ten seconds a restore at 10 % loss).
//
//   restore_under_loss [--count 30] [--loss 0.10] [--bytes 20000] [--seed 1] [-v]
//                      [-- more morvane-cli options, e.g. --verify]
//
// Each restore lands in one column:
//   complete      exit 0, and the device holds the file
//   unconfirmed   exit 5 although the device holds the file (the restore could have finished)
//   FALSE         exit 0 although the device does not hold the file: must never happen
//   clean         a failure, and the device does not hold the file
//   other         any other pairing (a failure code other than 5 with the file in place, ...)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "cli/cli_run.h"
#include "sim/device_simulator.h"
#include "tests/support/lossy_udp_relay.h"

namespace {

using testing_support::LossyUdpRelay;
using testing_support::RelayFaults;

std::string captured;
void Capture(std::string_view text) { captured.append(text); }

std::string ConfigurationText(std::size_t bytes) {
    std::string text;
    for (int line = 1; text.size() < bytes; ++line)
        text += "set port " + std::to_string(line) + " speed auto duplex full name line-" +
                std::to_string(line) + "\r\n";
    return text;
}

std::string WithoutCarriageReturns(const std::string& text) {
    std::string out;
    for (const char c : text)
        if (c != '\r') out.push_back(c);
    return out;
}

std::string LastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const auto start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

enum Column { kComplete, kUnconfirmed, kFalse, kClean, kOther, kColumns };
const char* const kColumnNames[] = {"complete", "unconfirmed", "FALSE", "clean", "other"};

}  // namespace

int main(int argc, char** argv) {
    int count = 30;
    double loss = 0.10;
    std::size_t bytes = 20000;
    std::uint32_t seed = 1;
    bool verbose = false;
    std::vector<std::string> extra;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--count" && hasValue) count = std::atoi(argv[++i]);
        else if (arg == "--loss" && hasValue) loss = std::atof(argv[++i]);
        else if (arg == "--bytes" && hasValue) bytes = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--seed" && hasValue) seed = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        else if (arg == "-v") verbose = true;
        else if (arg == "--") extra.assign(argv + i + 1, argv + argc), i = argc;
        else {
            std::fprintf(stderr, "usage: %s [--count N] [--loss P] [--bytes N] [--seed S] [-v] "
                                 "[-- morvane-cli options]\n", argv[0]);
            return 1;
        }
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("restore-under-loss-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "restore.cfg").string();
    const std::string text = ConfigurationText(bytes);
    std::ofstream(file, std::ios::binary) << text;

    int columns[kColumns] = {};
    double totalSeconds = 0;
    std::printf("%4s %5s %8s %-12s %s\n", "run", "exit", "seconds", "column", "last line");
    // One port for every run, as one operator's machine has: a run's TFTP server may still be
    // lingering on it when the next restore starts.
    const std::uint16_t tftpPort = FreeUdpPort();
    for (int run = 0; run < count; ++run) {
        RelayFaults faults;
        faults.dropRate = loss;
        LossyUdpRelay relay(plat::Ipv4Endpoint{plat::kLoopbackAddress, tftpPort}, faults, faults,
                            seed + static_cast<std::uint32_t>(run));
        SimOptions options;
        options.FactoryText = "hostname before-the-restore\n";
        options.Tftp.ServerPort = relay.Port();
        options.Tftp.ExternalClientScratch = (dir / "device-side").string();
        DeviceSimulator device(options);
        std::string error;
        if (!device.Start(&error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            return 1;
        }
        std::vector<std::string> args = {"restore", "127.0.0.1", file, "--http-port",
                                         std::to_string(device.Endpoint().port), "--tftp-port",
                                         std::to_string(tftpPort)};
        args.insert(args.end(), extra.begin(), extra.end());
        captured.clear();
        const auto started = std::chrono::steady_clock::now();
        const int exitCode = RunMorvaneCli(args, CliIo{Capture, Capture, false});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        totalSeconds += seconds;
        const bool holds = device.Configuration() == WithoutCarriageReturns(text);
        device.Stop();
        relay.Stop();
        Column column = kOther;
        if (exitCode == 0) column = holds ? kComplete : kFalse;
        else if (!holds) column = kClean;
        else if (exitCode == 5) column = kUnconfirmed;
        ++columns[column];
        std::printf("%4d %5d %8.1f %-12s %s\n", run + 1, exitCode, seconds, kColumnNames[column],
                    LastLine(captured).c_str());
        if (verbose && column != kComplete) std::printf("%s", captured.c_str());
        std::fflush(stdout);
    }
    std::printf("\n%d restores of %zu bytes at %.0f %% loss each way, %.1f s on average:",
                count, bytes, loss * 100, count > 0 ? totalSeconds / count : 0.0);
    for (int c = 0; c < kColumns; ++c) std::printf(" %s %d", kColumnNames[c], columns[c]);
    std::printf("\n");
    std::filesystem::remove_all(dir);
    return columns[kFalse] == 0 ? 0 : 2;
}
