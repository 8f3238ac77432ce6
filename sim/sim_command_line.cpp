#include "sim/sim_command_line.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>

#include "sim/device_switches.h"

const char* const kSimUsage =
    "usage: tavio-sim --listen ADDRESS:PORT --state FILE [options] [device switches]\n"
    "       tavio-sim --fleet N --listen FIRST-ADDRESS:PORT --state DIRECTORY [options]\n"
    "                 [device switches] [--fault DEVICES=SWITCH ...]\n"
    "\n"
    "A simulated Tavio device server; PORT 0 picks a free port. It prints\n"
    "'tavio-sim listening on ADDRESS:PORT' once it listens.\n"
    "\n"
    "options:\n"
    "  --factory FILE        the factory configuration (default: a short built-in one)\n"
    "  --config-bytes N      pad the factory configuration to N bytes\n"
    "  --tftp-port PORT      the utility's TFTP port (default 69)\n"
    "  --log FILE            request lines and transfer results, one a line\n"
    "  --max-requests N      stop after N requests\n"
    "  --duration MS         stop after MS milliseconds\n"
    "  -h, --help            show this help\n"
    "  --version             show the version\n"
    "\n"
    "device switches (for every device; in --fault without dashes, a value after ':'):\n"
    "  --server TEXT         the Server: header (default Tavio; empty: none)\n"
    "  --user NAME --password TEXT   the accepted credentials (default root / tundra)\n"
    "  --refuse-credentials  every command gets 401 Unauthorized\n"
    "  --never-answer-probe  the root page is never answered\n"
    "  --close-without-reply a command is carried out and the connection closed silently\n"
    "  --hold-connection MS  keep a connection open MS after the reply\n"
    "  --split-server-header, --split-unauthorized, --split-pause MS\n"
    "                        send those replies in two segments, MS apart (default 150)\n"
    "  --skip-tftp           LIST CHANGES / EXECUTE answer without a transfer\n"
    "  --drop-sent LIST, --duplicate-sent LIST, --drop-received LIST\n"
    "                        TFTP packets (numbered from 0, the request; LIST e.g. 1,3)\n"
    "                        lost, sent twice, or ignored on arrival\n"
    "  --silent-after N      send nothing after N TFTP packets (break off a transfer)\n"
    "  --request-once        the TFTP request is never repeated\n"
    "  --retransmit-ms MS, --max-retransmits N, --dally-ms MS   the TFTP client's timing\n"
    "  --tftp-source ADDRESS the TFTP client sends from ADDRESS (default: the address\n"
    "                        listened on, when that is neither 127.0.0.1 nor all)\n"
    "  --command-delay MS    pause before carrying out each command\n"
    "  --packet-delay MS     pause before each web reply and each TFTP packet sent\n"
    "\n"
    "fleet:\n"
    "  --fleet N             N devices: device 1 on FIRST-ADDRESS, device 2 on the next\n"
    "                        address, ..., all on PORT, every address inside 127.0.0.0/8;\n"
    "                        each with its own configuration,\n"
    "                        state file DIRECTORY/ADDRESS.txt and (with --log DIRECTORY)\n"
    "                        log DIRECTORY/ADDRESS.log; one line per device when ready\n"
    "  --fault DEVICES=SWITCH  a device switch for some devices only; DEVICES is a number\n"
    "                        or a range (3, 5-8); repeat --fault for more switches, e.g.\n"
    "                        --fault 3=refuse-credentials --fault 5=silent-after:4\n"
    "                        --fault 6-7=skip-tftp --fault 9=command-delay:2000\n"
    "                        SWITCH 'unreachable': nothing listens at that device's address\n";

namespace {

bool ToEndpoint(const std::string& text, plat::Ipv4Endpoint* endpoint) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    long long port = 0;
    std::uint32_t address = 0;
    if (!ParseBoundedInt(text.substr(colon + 1), 0, 65535, &port)) return false;
    if (!plat::ResolveIpv4(text.substr(0, colon).c_str(), &address)) return false;
    *endpoint = plat::Ipv4Endpoint{address, static_cast<std::uint16_t>(port)};
    return true;
}

constexpr long long kMaxFleet = 4096;

// One --fault: devices first..last get the switch `which`.
struct FaultRange {
    int first = 0, last = 0;
    std::string which;
};

// "5=silent-after:4", "6-7=skip-tftp".
bool ToFault(const std::string& text, std::vector<FaultRange>* faults) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    const std::string devices = text.substr(0, equals);
    FaultRange fault;
    fault.which = text.substr(equals + 1);
    const std::size_t dash = devices.find('-');
    long long first = 0, last = 0;
    if (!ParseBoundedInt(devices.substr(0, dash), 1, kMaxFleet, &first)) return false;
    last = first;
    if (dash != std::string::npos && !ParseBoundedInt(devices.substr(dash + 1), first, kMaxFleet, &last))
        return false;
    SimOptions scratch;
    std::string ignored;
    if (fault.which != kUnreachableSwitch &&
        !ApplyDeviceSwitchText(fault.which, &scratch, &ignored))
        return false;
    fault.first = static_cast<int>(first);
    fault.last = static_cast<int>(last);
    faults->push_back(std::move(fault));
    return true;
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error) {
    SimOptions& o = out->Options;
    bool haveListen = false;
    bool haveState = false;
    std::vector<FaultRange> faults;

    // Options of the run as a whole (the device switches come from their own table); each
    // returns false when the value is not acceptable.
    using Valued = std::function<bool(const std::string&)>;
    auto number = [](int* field, long long low, long long high) {
        return Valued([=](const std::string& v) {
            long long n = 0;
            if (!ParseBoundedInt(v, low, high, &n)) return false;
            *field = static_cast<int>(n);
            return true;
        });
    };
    const int kMaxMs = 24 * 3600 * 1000;
    const std::map<std::string, Valued> valued{
        {"--listen", [&](const std::string& v) { return haveListen = ToEndpoint(v, &o.Listen); }},
        {"--state",
         [&](const std::string& v) { return haveState = !v.empty(), o.StatePath = v, haveState; }},
        {"--factory", [&](const std::string& v) { return out->FactoryPath = v, !v.empty(); }},
        {"--log", [&](const std::string& v) { return o.LogPath = v, true; }},
        {"--tftp-port",
         [&](const std::string& v) {
             long long n = 0;
             if (!ParseBoundedInt(v, 1, 65535, &n)) return false;
             o.Tftp.ServerPort = static_cast<std::uint16_t>(n);
             return true;
         }},
        {"--max-requests", number(&o.MaxRequests, 0, 1000000)},
        {"--duration", number(&o.DurationMs, 0, kMaxMs)},
        {"--config-bytes",
         [&](const std::string& v) {
             long long n = 0;
             if (!ParseBoundedInt(v, 0, 16 << 20, &n)) return false;
             out->ConfigBytes = static_cast<std::size_t>(n);
             return true;
         }},
        {"--fleet", number(&out->Fleet.Count, 1, kMaxFleet)},
        {"--fault", [&](const std::string& v) { return ToFault(v, &faults); }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out->Help = true;
            return true;
        }
        if (a == "--version") {
            out->Version = true;
            return true;
        }
        const std::string_view name = std::string_view(a).substr(a.rfind("--", 0) == 0 ? 2 : 0);
        const DeviceSwitchKind kind =
            a.rfind("--", 0) == 0 ? FindDeviceSwitch(name) : DeviceSwitchKind::Unknown;
        if (kind == DeviceSwitchKind::Flag) {
            ApplyDeviceSwitch(name, "", &o);
            continue;
        }
        const auto option = valued.find(a);
        if (kind == DeviceSwitchKind::Unknown && option == valued.end()) {
            *error = "unknown option " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = a + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (kind == DeviceSwitchKind::Valued ? !ApplyDeviceSwitch(name, value, &o)
                                             : !option->second(value)) {
            *error = "bad value for " + a + ": " + value;
            return false;
        }
    }
    if (!haveListen) {
        *error = "--listen ADDRESS:PORT is required";
        return false;
    }
    if (!haveState) {
        *error =
            out->Fleet.Count > 0 ? "--state DIRECTORY is required" : "--state FILE is required";
        return false;
    }
    SimFleetOptions& fleet = out->Fleet;
    if (!faults.empty() && fleet.Count == 0) {
        *error = "--fault needs --fleet";
        return false;
    }
    for (const FaultRange& fault : faults) {
        if (fault.last > fleet.Count) {
            *error = "--fault names device " + std::to_string(fault.last) + " of a fleet of " +
                     std::to_string(fleet.Count);
            return false;
        }
        for (int n = fault.first; n <= fault.last; ++n) fleet.Switches[n].push_back(fault.which);
    }
    if (fleet.Count > 0) {
        // Every device on an address of its own, which only loopback has in such numbers.
        constexpr std::uint32_t kLoopbackNet = 0x7f000000u, kLoopbackMask = 0xff000000u;
        const std::uint64_t last = std::uint64_t{o.Listen.address} + fleet.Count - 1;
        if ((o.Listen.address & kLoopbackMask) != kLoopbackNet) {
            *error = "--fleet needs a first address in 127.0.0.0/8, not " +
                     plat::FormatIpv4(o.Listen.address);
            return false;
        }
        if ((last & kLoopbackMask) != kLoopbackNet) {
            *error = "--fleet " + std::to_string(fleet.Count) + " from " +
                     plat::FormatIpv4(o.Listen.address) +
                     " would leave 127.0.0.0/8 (the last address there is 127.255.255.255)";
            return false;
        }
        fleet.First = o.Listen;
        fleet.StateDirectory = o.StatePath;
        fleet.LogDirectory = o.LogPath;
        fleet.ConfigBytes = out->ConfigBytes;
        o.StatePath.clear();
        o.LogPath.clear();
    }
    return true;
}
