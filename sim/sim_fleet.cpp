#include "sim/sim_fleet.h"

#include <algorithm>

#include "platform/files.h"
#include "sim/device_switches.h"
#include "sim/device_text.h"

namespace {

// A port chosen by the first device may already be taken at a later device's address; the
// fleet then starts again on another free port.
constexpr int kPortAttempts = 5;

// An idle fleet device looks this seldom whether its run is over: Stop() wakes each one with a
// connection, so hundreds of idle devices cost next to nothing.
constexpr int kFleetIdleCheckMs = 2000;
constexpr int kWakeConnectMs = 200;

// Connects to a device's listener and hangs up, so that its wait for a connection ends now.
void WakeUp(plat::Ipv4Endpoint device) {
    if (plat::NetStartup() != 0) return;
    const plat::SocketHandle s = plat::TcpOpen();
    if (s != plat::kNoSocket) plat::SocketConnect(s, device, kWakeConnectMs);
    plat::SocketClose(s);
    plat::NetCleanup();
}

}  // namespace

bool FleetDeviceOptions(const SimFleetOptions& options, int number, SimOptions* device,
                        bool* unreachable, std::string* error) {
    *device = options.Common;
    *unreachable = false;
    const std::uint32_t address = options.First.address + static_cast<std::uint32_t>(number - 1);
    const std::string name = plat::FormatIpv4(address);
    device->Listen = {address, options.First.port};
    device->IdleCheckMs = std::max(device->IdleCheckMs, kFleetIdleCheckMs);
    device->FactoryText =
        PaddedText(FleetDeviceText(options.Common.FactoryText, number, name), options.ConfigBytes);
    device->StatePath =
        options.StateDirectory.empty() ? "" : options.StateDirectory + "/" + name + ".txt";
    device->LogPath =
        options.LogDirectory.empty() ? "" : options.LogDirectory + "/" + name + ".log";
    const auto switches = options.Switches.find(number);
    if (switches == options.Switches.end()) return true;
    for (const std::string& text : switches->second) {
        if (text == kUnreachableSwitch) {
            *unreachable = true;
            continue;
        }
        if (!ApplyDeviceSwitchText(text, device, error)) {
            *error = "device " + std::to_string(number) + ": " + *error;
            return false;
        }
    }
    return true;
}

SimFleet::SimFleet(SimFleetOptions options) : options_(std::move(options)) {}

SimFleet::~SimFleet() {
    Stop();
}

bool SimFleet::Start(std::string* error) {
    std::string why;
    for (const auto& [number, ignored] : options_.Switches)
        if (number < 1 || number > options_.Count) {
            why = "no device " + std::to_string(number) + " in a fleet of " +
                  std::to_string(options_.Count);
            break;
        }
    for (const std::string& directory : {options_.StateDirectory, options_.LogDirectory})
        if (why.empty() && !directory.empty() && !plat::DirectoryExists(directory.c_str()) &&
            !plat::MakeDirectory(directory.c_str()))
            why = "cannot make the directory " + directory + ": " + plat::LastFileErrorText();
    for (int attempt = 0; why.empty() && attempt < kPortAttempts; ++attempt) {
        if (StartAll(&why)) return true;
        if (options_.First.port != 0) break;  // a fixed port taken stays taken
    }
    if (error) *error = why;
    return false;
}

bool SimFleet::StartAll(std::string* error) {
    deviceOptions_.assign(static_cast<std::size_t>(options_.Count), SimOptions{});
    devices_.clear();
    devices_.resize(static_cast<std::size_t>(options_.Count));
    port_ = options_.First.port;
    for (int number = 1; number <= options_.Count; ++number) {
        SimOptions& device = deviceOptions_[static_cast<std::size_t>(number - 1)];
        bool unreachable = false;
        if (!FleetDeviceOptions(options_, number, &device, &unreachable, error)) {
            Stop();
            return false;
        }
        device.Listen.port = port_;
        if (unreachable) continue;
        auto simulator = std::make_unique<DeviceSimulator>(device);
        if (!simulator->Start(error)) {
            *error = "device " + std::to_string(number) + ": " + *error;
            Stop();
            return false;
        }
        port_ = simulator->Endpoint().port;
        devices_[static_cast<std::size_t>(number - 1)] = std::move(simulator);
    }
    return true;
}

void SimFleet::Stop() {
    for (const auto& device : devices_) {
        if (!device) continue;
        device->RequestStop();
        WakeUp(device->Endpoint());
    }
    for (const auto& device : devices_)
        if (device) device->Stop();
}

void SimFleet::WaitUntilFinished() {
    for (const auto& device : devices_)
        if (device) device->WaitUntilFinished();
}

plat::Ipv4Endpoint SimFleet::Endpoint(int number) const {
    return {options_.First.address + static_cast<std::uint32_t>(number - 1), port_};
}

DeviceSimulator* SimFleet::Device(int number) const {
    if (number < 1 || static_cast<std::size_t>(number) > devices_.size()) return nullptr;
    return devices_[static_cast<std::size_t>(number - 1)].get();
}

const std::string& SimFleet::FactoryText(int number) const {
    return deviceOptions_.at(static_cast<std::size_t>(number - 1)).FactoryText;
}
