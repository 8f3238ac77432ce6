// A fleet of simulated devices in one process: device 1 listens on the first address, device 2
// on the next one (127.0.0.2, 127.0.0.3, ...), all on the same web port, each with its own
// configuration text, state file, log, and faults.
//
// Contract: the owner (the tavio-sim program or a test) fills SimFleetOptions, calls Start() on
// its thread, and may then read the devices from any thread until Stop() or the destructor. Each
// listening device serves on one thread of its own and runs its TFTP transfers on it (see
// DeviceSimulator); an unreachable device has no listener and no thread. Devices are numbered
// from 1, as in the per-device switches.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/net.h"
#include "sim/device_simulator.h"
#include "sim/sim_options.h"

// The per-device switch that leaves nothing listening at a device's address.
inline constexpr const char* kUnreachableSwitch = "unreachable";

struct SimFleetOptions {
    int Count = 0;
    // The first device's address and the web port of all; port 0: a free port, chosen once.
    plat::Ipv4Endpoint First{0x7f000002, 0};
    std::string StateDirectory;   // one state file per device, ADDRESS.txt; empty: in memory only
    std::string LogDirectory;     // one log per device, ADDRESS.log; empty: none
    std::size_t ConfigBytes = 0;  // > 0: each factory text is padded to this many bytes
    // What every device starts from (its Listen, StatePath and LogPath are set per device; its
    // FactoryText is the base of each device's own text).
    SimOptions Common;
    // Device number → its switches, as "refuse-credentials", "silent-after:4", "unreachable".
    std::map<int, std::vector<std::string>> Switches;
};

class SimFleet {
  public:
    explicit SimFleet(SimFleetOptions options);
    ~SimFleet();
    SimFleet(const SimFleet&) = delete;
    SimFleet& operator=(const SimFleet&) = delete;

    // Starts every device but the unreachable ones. False, with the reason in *error and nothing
    // left running, when a switch is bad, a state directory cannot be made, or a device cannot
    // listen.
    bool Start(std::string* error = nullptr);
    // Asks every device to end, then waits for all of them; the devices stay readable.
    void Stop();
    // Waits until every device has ended (by --max-requests, --duration, or Stop()).
    void WaitUntilFinished();

    int Count() const { return options_.Count; }
    // Where device `number` listens (or would listen, when unreachable).
    plat::Ipv4Endpoint Endpoint(int number) const;
    // Device `number`, nullptr when it is unreachable or the fleet is not started.
    DeviceSimulator* Device(int number) const;
    // Its factory text (the configuration it starts with when it has no state yet).
    const std::string& FactoryText(int number) const;

  private:
    bool StartAll(std::string* error);

    const SimFleetOptions options_;
    std::vector<SimOptions> deviceOptions_;
    std::vector<std::unique_ptr<DeviceSimulator>> devices_;
    std::uint16_t port_ = 0;
};

// The device options of fleet device `number` under `options`; false with the reason in *error
// when one of its switches is bad. *unreachable says whether it is to have no listener.
bool FleetDeviceOptions(const SimFleetOptions& options, int number, SimOptions* device,
                        bool* unreachable, std::string* error);
