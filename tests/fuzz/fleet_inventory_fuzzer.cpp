// Any text as a fleet inventory: it parses into devices that keep every rule of the columns, or
// gives a reason that names its line and prints; line ends of either kind read the same; and
// --only's selection keeps exactly the devices named.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/fleet_inventory.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool Prints(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Same(const FleetDevice& a, const FleetDevice& b) {
    return a.line == b.line && a.host == b.host && a.name == b.name && a.user == b.user &&
           a.passwordFile == b.passwordFile && a.tftpAddress == b.tftpAddress &&
           a.deviceTftpAddress == b.deviceTftpAddress && a.httpPort == b.httpPort;
}

void CheckDevices(const std::vector<FleetDevice>& devices) {
    std::set<std::string> names;
    int lastLine = 0;
    for (const FleetDevice& d : devices) {
        FUZZ_CHECK(d.line > lastLine);
        lastLine = d.line;
        FUZZ_CHECK(!d.host.empty() && d.host.size() <= 127);
        for (const std::string* address : {&d.host, &d.tftpAddress, &d.deviceTftpAddress})
            FUZZ_CHECK(address->find_first_of(" \t\"") == std::string::npos);
        FUZZ_CHECK(!d.name.empty() && d.name.size() <= 251 && d.name.front() != '.');
        FUZZ_CHECK(d.name.find_first_of("/\\:*?\"<>|") == std::string::npos);
        FUZZ_CHECK(d.name.back() != ' ' && d.name.back() != '.');
        FUZZ_CHECK(std::none_of(d.name.begin(), d.name.end(),
                                [](unsigned char c) { return c < 0x20 || c == 0x7f; }));
        // No name Windows keeps for a device, whatever follows its first dot.
        std::string stem = Lower(d.name.substr(0, d.name.find('.')));
        stem.erase(stem.find_last_not_of(' ') + 1);
        FUZZ_CHECK(stem != "con" && stem != "prn" && stem != "aux" && stem != "nul");
        FUZZ_CHECK(!(stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
                     stem[3] >= '1' && stem[3] <= '9'));
        FUZZ_CHECK(names.insert(Lower(d.name)).second);
        FUZZ_CHECK(d.user.size() <= 79);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<FleetDevice> devices;
    std::string error, warning;
    const bool ok = ParseFleetInventory(text, &devices, &error, &warning);
    if (ok) {
        CheckDevices(devices);
        FUZZ_CHECK(Prints(warning));
    } else {
        FUZZ_CHECK(error.rfind("line ", 0) == 0 || error.rfind("the inventory ", 0) == 0);
        FUZZ_CHECK(Prints(error));
    }

    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::vector<FleetDevice> again;
    std::string againError;
    FUZZ_CHECK(ParseFleetInventory(crlf, &again, &againError) == ok);
    if (!ok) {
        FUZZ_CHECK(againError == error);
        return 0;
    }
    FUZZ_CHECK(std::equal(devices.begin(), devices.end(), again.begin(), again.end(), Same));

    if (devices.empty()) return 0;
    // Every other device, named in another case: just those stay, in order; a name that is no
    // device's is refused and changes nothing.
    std::vector<std::string> names;
    std::vector<FleetDevice> expected;
    for (std::size_t i = 0; i < devices.size(); i += 2) {
        std::string name = devices[i].name;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        names.push_back(name);
        expected.push_back(devices[i]);
    }
    std::vector<FleetDevice> selected = devices;
    FUZZ_CHECK(SelectFleetDevices(names, &selected, &error));
    FUZZ_CHECK(std::equal(selected.begin(), selected.end(), expected.begin(), expected.end(), Same));
    names.push_back("." + devices[0].name);  // a name no device may have
    selected = devices;
    FUZZ_CHECK(!SelectFleetDevices(names, &selected, &error) && Prints(error));
    FUZZ_CHECK(selected.size() == devices.size());
    return 0;
}
