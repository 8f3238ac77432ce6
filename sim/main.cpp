// tavio-sim: the device simulator as a program. Prints one line per device when it is ready,
// then serves until it is killed or its --max-requests / --duration run out.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "morvane_version.h"
#include "sim/device_simulator.h"
#include "sim/device_text.h"
#include "sim/sim_command_line.h"
#include "sim/sim_fleet.h"

namespace {

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
        std::ifstream in(line.FactoryPath, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "tavio-sim: cannot read %s\n", line.FactoryPath.c_str());
            return 2;
        }
        std::ostringstream text;
        text << in.rdbuf();
        line.Options.FactoryText = text.str();
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
