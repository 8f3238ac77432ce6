// tavio-sim: the device simulator as a program. Prints one line when it is ready, then serves
// until it is killed or its --max-requests / --duration run out.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/device_simulator.h"
#include "sim/sim_command_line.h"

int main(int argc, char** argv) {
    SimCommandLine line;
    std::string error;
    if (!ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), &line, &error)) {
        std::fprintf(stderr, "tavio-sim: %s\n", error.c_str());
        return 2;
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
    DeviceSimulator simulator(line.Options);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "tavio-sim: %s\n", error.c_str());
        return 1;
    }
    const plat::Ipv4Endpoint at = simulator.Endpoint();
    std::printf("tavio-sim listening on %s:%u\n", plat::FormatIpv4(at.address).c_str(),
                static_cast<unsigned>(at.port));
    std::fflush(stdout);
    simulator.WaitUntilFinished();
    return 0;
}
