// tavio-sim: the device simulator as a program. Prints one line per device when it is ready,
// then serves until it is killed or its --max-requests / --duration run out.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "morvane_version.h"
#include "platform/files.h"
#include "sim/device_simulator.h"
#include "sim/device_text.h"
#include "sim/sim_command_line.h"
#include "sim/sim_fleet.h"

namespace {

// The whole of a file; false with the system's words for what went wrong.
bool ReadWholeFile(const std::string& path, std::string* text, std::string* why) {
    const plat::FileHandle file = plat::FileOpenRead(path.c_str());
    if (file == plat::kNoFile) {
        *why = plat::LastFileErrorText();
        return false;
    }
    text->clear();
    std::uint8_t buffer[65536];
    for (;;) {
        const std::int64_t got = plat::FileRead(file, buffer);
        if (got < 0) *why = plat::LastFileErrorText();
        if (got <= 0) {
            plat::FileClose(file);
            return got == 0;
        }
        text->append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
    }
}

void PrintReady(const char* state, plat::Ipv4Endpoint at, const char* note) {
    std::printf("tavio-sim %s %s:%u%s\n", state, plat::FormatIpv4(at.address).c_str(),
                static_cast<unsigned>(at.port), note);
}

int RunFleet(SimCommandLine& line) {
    line.Fleet.Common = line.Options;
    SimFleet fleet(line.Fleet);
    std::string error;
    if (!fleet.Start(&error)) {
        std::fprintf(stderr, "tavio-sim: %s\n", error.c_str());
        return 1;
    }
    for (int number = 1; number <= fleet.Count(); ++number) {
        if (fleet.Device(number) != nullptr)
            PrintReady("listening on", fleet.Endpoint(number), "");
        else
            PrintReady("not listening on", fleet.Endpoint(number), " (unreachable)");
    }
    std::fflush(stdout);
    fleet.WaitUntilFinished();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimCommandLine line;
    std::string error;
    if (!ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), &line, &error)) {
        std::fprintf(stderr, "tavio-sim: %s\n(tavio-sim --help lists the options)\n",
                     error.c_str());
        return 2;
    }
    if (line.Help) {
        std::fputs(kSimUsage, stdout);
        return 0;
    }
    if (line.Version) {
        std::fputs("tavio-sim " MORVANE_VERSION "\n", stdout);
        return 0;
    }
    if (!line.FactoryPath.empty()) {
        std::string why;
        if (!ReadWholeFile(line.FactoryPath, &line.Options.FactoryText, &why)) {
            std::fprintf(stderr, "tavio-sim: cannot read %s: %s\n", line.FactoryPath.c_str(),
                         why.c_str());
            return 2;
        }
    }
    if (line.Fleet.Count > 0) return RunFleet(line);

    line.Options.FactoryText = PaddedText(line.Options.FactoryText, line.ConfigBytes);
    DeviceSimulator simulator(line.Options);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "tavio-sim: %s\n", error.c_str());
        return 1;
    }
    PrintReady("listening on", simulator.Endpoint(), "");
    std::fflush(stdout);
    simulator.WaitUntilFinished();
    return 0;
}
