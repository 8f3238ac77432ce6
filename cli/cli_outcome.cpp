#include "cli/cli_outcome.h"

#include <cstdio>

#include "spine/events.h"

namespace {

bool IsNetworkError(int code) {
    return code == ERR_CONNECT || code == ERR_SEND || code == ERR_RECEIVE ||
           code == ERR_RESOLVE || code == ERR_SOCKETS_SETUP || code == ERR_TFTP_SOCKET;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out + "\"";
}

}  // namespace

int ExitCodeForCommand(CommandResult result, int lastError) {
    switch (result) {
        case CommandResult::Completed: return EXIT_OK;
        case CommandResult::Declined: return EXIT_USAGE;
        case CommandResult::PortUnavailable: return EXIT_TFTP_PORT;
        case CommandResult::NotTavio: return IsNetworkError(lastError) ? EXIT_NETWORK : EXIT_NOT_TAVIO;
        case CommandResult::Unsupported: return EXIT_NOT_TAVIO;
        case CommandResult::DeviceCommandFailed:
            return lastError == ERR_CREDENTIALS ? EXIT_CREDENTIALS : EXIT_NETWORK;
        case CommandResult::TransferFailed: return EXIT_TRANSFER;
        case CommandResult::FileUnusable: return EXIT_LOCAL_FILE;
    }
    return EXIT_TRANSFER;
}

const char* ResultWord(int exitCode) {
    static constexpr const char* kWords[] = {"completed",        "usage-error",  "not-tavio",
                                             "credentials-refused", "network-failure",
                                             "transfer-failed",  "local-file-error",
                                             "tftp-port-unavailable"};
    return exitCode >= 0 && exitCode <= EXIT_TFTP_PORT ? kWords[exitCode] : "failed";
}

std::string OutcomeJson(const CliOutcome& o) {
    std::string json = "{\"command\":" + JsonString(o.command) + ",\"host\":" + JsonString(o.host);
    if (!o.file.empty()) json += ",\"file\":" + JsonString(o.file);
    json += ",\"ok\":" + std::string(o.exitCode == EXIT_OK ? "true" : "false");
    json += ",\"exit_code\":" + std::to_string(o.exitCode);
    json += ",\"result\":" + JsonString(o.result);
    json += ",\"bytes\":" + std::to_string(o.bytes);
    if (!o.detail.empty()) json += ",\"detail\":" + JsonString(o.detail);
    return json + "}\n";
}
