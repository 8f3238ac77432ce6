#include "sim/device_switches.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "platform/net.h"

bool ParseBoundedInt(const std::string& text, long long low, long long high, long long* value) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || v < low || v > high) return false;
    *value = v;
    return true;
}

namespace {

bool ToNumber(const std::string& text, long long low, long long high, int* field) {
    long long v = 0;
    if (!ParseBoundedInt(text, low, high, &v)) return false;
    *field = static_cast<int>(v);
    return true;
}

// "1,3" → {1, 3}.
bool ToPacketList(const std::string& text, std::set<int>* list) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        long long v = 0;
        if (!ParseBoundedInt(text.substr(start, comma - start), 0, 1000000, &v)) return false;
        list->insert(static_cast<int>(v));
        start = comma + 1;
    }
    return true;
}

constexpr long long kMaxMs = 24 * 3600 * 1000;

// The address a device's TFTP client sends from: dotted decimal, or a name that resolves.
bool ToAddress(const std::string& text, std::uint32_t* address) {
    if (plat::NetStartup() != 0) return false;
    std::uint32_t resolved = 0;
    const bool ok = !text.empty() && plat::ResolveIpv4(text.c_str(), &resolved) && resolved != 0;
    plat::NetCleanup();
    if (ok) *address = resolved;
    return ok;
}

struct DeviceSwitch {
    std::string_view name;
    bool valued;
    bool (*apply)(SimOptions& o, const std::string& v);
};

// clang-format off
constexpr std::array kSwitches = {
    DeviceSwitch{"refuse-credentials", false, [](SimOptions& o, const std::string&) { return o.Faults.RefuseCredentials = true; }},
    DeviceSwitch{"never-answer-probe", false, [](SimOptions& o, const std::string&) { return o.Faults.NeverAnswerProbe = true; }},
    DeviceSwitch{"close-without-reply", false, [](SimOptions& o, const std::string&) { return o.Faults.CloseWithoutReply = true; }},
    DeviceSwitch{"split-server-header", false, [](SimOptions& o, const std::string&) { return o.Faults.SplitServerHeader = true; }},
    DeviceSwitch{"split-unauthorized", false, [](SimOptions& o, const std::string&) { return o.Faults.SplitUnauthorized = true; }},
    DeviceSwitch{"skip-tftp", false, [](SimOptions& o, const std::string&) { return o.Faults.SkipTftp = true; }},
    DeviceSwitch{"request-once", false, [](SimOptions& o, const std::string&) { return o.Tftp.RequestOnce = true; }},
    DeviceSwitch{"hold-connection", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, kMaxMs, &o.Faults.HoldConnectionMs); }},
    DeviceSwitch{"split-pause", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 60000, &o.Faults.SplitPauseMs); }},
    DeviceSwitch{"drop-sent", true, [](SimOptions& o, const std::string& v) { return ToPacketList(v, &o.Tftp.DropSent); }},
    DeviceSwitch{"duplicate-sent", true, [](SimOptions& o, const std::string& v) { return ToPacketList(v, &o.Tftp.DuplicateSent); }},
    DeviceSwitch{"drop-received", true, [](SimOptions& o, const std::string& v) { return ToPacketList(v, &o.Tftp.DropReceived); }},
    DeviceSwitch{"silent-after", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 1000000, &o.Tftp.SilentAfterSent); }},
    DeviceSwitch{"command-delay", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 600000, &o.CommandDelayMs); }},
    DeviceSwitch{"packet-delay", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 60000, &o.PacketDelayMs); }},
    DeviceSwitch{"retransmit-ms", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 1, 600000, &o.Tftp.RetransmitMs); }},
    DeviceSwitch{"max-retransmits", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 1000, &o.Tftp.MaxRetransmits); }},
    DeviceSwitch{"tftp-source", true, [](SimOptions& o, const std::string& v) { return ToAddress(v, &o.Tftp.LocalAddress); }},
    DeviceSwitch{"dally-ms", true, [](SimOptions& o, const std::string& v) { return ToNumber(v, 0, 600000, &o.Tftp.DallyMs); }},
    DeviceSwitch{"server", true, [](SimOptions& o, const std::string& v) { return o.ServerHeader = v, true; }},
    DeviceSwitch{"user", true, [](SimOptions& o, const std::string& v) { return o.UserName = v, true; }},
    DeviceSwitch{"password", true, [](SimOptions& o, const std::string& v) { return o.Password = v, true; }},
};
// clang-format on

const DeviceSwitch* Find(std::string_view name) {
    for (const DeviceSwitch& s : kSwitches)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace

DeviceSwitchKind FindDeviceSwitch(std::string_view name) {
    const DeviceSwitch* s = Find(name);
    if (s == nullptr) return DeviceSwitchKind::Unknown;
    return s->valued ? DeviceSwitchKind::Valued : DeviceSwitchKind::Flag;
}

bool ApplyDeviceSwitch(std::string_view name, const std::string& value, SimOptions* options) {
    const DeviceSwitch* s = Find(name);
    return s != nullptr && s->apply(*options, value);
}

bool ApplyDeviceSwitchText(std::string_view text, SimOptions* options, std::string* error) {
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const DeviceSwitchKind kind = FindDeviceSwitch(name);
    if (kind == DeviceSwitchKind::Unknown) {
        *error = "unknown device switch " + std::string(name);
        return false;
    }
    if ((kind == DeviceSwitchKind::Valued) != (colon != std::string_view::npos)) {
        *error = kind == DeviceSwitchKind::Valued ? std::string(name) + " needs :VALUE"
                                                  : std::string(name) + " takes no value";
        return false;
    }
    const std::string value =
        colon == std::string_view::npos ? "" : std::string(text.substr(colon + 1));
    if (!ApplyDeviceSwitch(name, value, options)) {
        *error = "bad value for " + std::string(name) + ": " + value;
        return false;
    }
    return true;
}
