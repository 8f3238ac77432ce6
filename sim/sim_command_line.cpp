#include "sim/sim_command_line.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>

namespace {

bool ToInt(const std::string& text, long long low, long long high, long long* value) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ToPacketList(const std::string& text, std::set<int>* list) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        long long v = 0;
        if (!ToInt(text.substr(start, comma - start), 0, 1000000, &v)) return false;
        list->insert(static_cast<int>(v));
        start = comma + 1;
    }
    return true;
}

bool ToEndpoint(const std::string& text, plat::Ipv4Endpoint* endpoint) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    long long port = 0;
    std::uint32_t address = 0;
    if (!ToInt(text.substr(colon + 1), 0, 65535, &port)) return false;
    if (!plat::ResolveIpv4(text.substr(0, colon).c_str(), &address)) return false;
    *endpoint = plat::Ipv4Endpoint{address, static_cast<std::uint16_t>(port)};
    return true;
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine* out,
                         std::string* error) {
    SimOptions& o = out->Options;
    SimFaults& f = o.Faults;
    SimTftpOptions& t = o.Tftp;
    bool haveListen = false;
    bool haveState = false;

    using Flag = std::function<void()>;
    const std::map<std::string, Flag> flags{
        {"--refuse-credentials", [&] { f.RefuseCredentials = true; }},
        {"--never-answer-probe", [&] { f.NeverAnswerProbe = true; }},
        {"--close-without-reply", [&] { f.CloseWithoutReply = true; }},
        {"--split-server-header", [&] { f.SplitServerHeader = true; }},
        {"--split-unauthorized", [&] { f.SplitUnauthorized = true; }},
        {"--skip-tftp", [&] { f.SkipTftp = true; }},
        {"--request-once", [&] { t.RequestOnce = true; }},
    };
    // Options with a value; each returns false when the value is not acceptable.
    using Valued = std::function<bool(const std::string&)>;
    auto number = [](int* field, long long low, long long high) {
        return Valued([=](const std::string& v) {
            long long n = 0;
            if (!ToInt(v, low, high, &n)) return false;
            *field = static_cast<int>(n);
            return true;
        });
    };
    auto text = [](std::string* field) {
        return Valued([=](const std::string& v) { return *field = v, true; });
    };
    const int kMaxMs = 24 * 3600 * 1000;
    const std::map<std::string, Valued> valued{
        {"--listen", [&](const std::string& v) { return haveListen = ToEndpoint(v, &o.Listen); }},
        {"--state",
         [&](const std::string& v) { return haveState = !v.empty(), o.StatePath = v, haveState; }},
        {"--server", text(&o.ServerHeader)},
        {"--user", text(&o.UserName)},
        {"--password", text(&o.Password)},
        {"--factory", [&](const std::string& v) { return out->FactoryPath = v, !v.empty(); }},
        {"--log", text(&o.LogPath)},
        {"--tftp-port",
         [&](const std::string& v) {
             long long n = 0;
             if (!ToInt(v, 1, 65535, &n)) return false;
             t.ServerPort = static_cast<std::uint16_t>(n);
             return true;
         }},
        {"--max-requests", number(&o.MaxRequests, 0, 1000000)},
        {"--duration", number(&o.DurationMs, 0, kMaxMs)},
        {"--retransmit-ms", number(&t.RetransmitMs, 1, 600000)},
        {"--max-retransmits", number(&t.MaxRetransmits, 0, 1000)},
        {"--dally-ms", number(&t.DallyMs, 0, 600000)},
        {"--hold-connection", number(&f.HoldConnectionMs, 0, kMaxMs)},
        {"--split-pause", number(&f.SplitPauseMs, 0, 60000)},
        {"--drop-sent", [&](const std::string& v) { return ToPacketList(v, &t.DropSent); }},
        {"--duplicate-sent",
         [&](const std::string& v) { return ToPacketList(v, &t.DuplicateSent); }},
        {"--drop-received", [&](const std::string& v) { return ToPacketList(v, &t.DropReceived); }},
        {"--silent-after", number(&t.SilentAfterSent, 0, 1000000)},
        {"--command-delay", number(&o.CommandDelayMs, 0, 600000)},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (const auto flag = flags.find(a); flag != flags.end()) {
            flag->second();
            continue;
        }
        const auto option = valued.find(a);
        if (option == valued.end()) {
            *error = "unknown option " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = a + " needs a value";
            return false;
        }
        if (!option->second(args[++i])) {
            *error = "bad value for " + a + ": " + args[i];
            return false;
        }
    }
    if (!haveListen) {
        *error = "--listen ADDRESS:PORT is required";
        return false;
    }
    if (!haveState) {
        *error = "--state FILE is required";
        return false;
    }
    return true;
}
