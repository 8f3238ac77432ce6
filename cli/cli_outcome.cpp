#include "cli/cli_outcome.h"

#include <cstdio>
#include <string_view>

#include "spine/events.h"

namespace {

bool IsNetworkError(int code) {
    return code == ERR_CONNECT || code == ERR_SEND || code == ERR_RECEIVE ||
           code == ERR_RESOLVE || code == ERR_SOCKETS_SETUP || code == ERR_TFTP_SOCKET;
}

// The length of the well-formed UTF-8 sequence at the start of `bytes` (no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0 when it does not start with one.
std::size_t Utf8SequenceLength(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xbf) return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (const std::size_t n = Utf8SequenceLength(std::string_view(text).substr(i))) {
                out.append(text, i, n);
                i += n;
                continue;
            }
        }
        ++i;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x80) {
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

int ExitCodeForCommand(CommandResult result, int lastError) {
    switch (result) {
        case CommandResult::Completed: return EXIT_OK;
        case CommandResult::Declined: return EXIT_USAGE;
        case CommandResult::PortUnavailable: return EXIT_TFTP_PORT;
        case CommandResult::NotTavio: return IsNetworkError(lastError) ? EXIT_NETWORK : EXIT_NOT_TAVIO;
        case CommandResult::Unsupported: return EXIT_NOT_TAVIO;
        case CommandResult::DeviceCommandFailed:
            return lastError == ERR_CREDENTIALS ? EXIT_CREDENTIALS : EXIT_NETWORK;
        case CommandResult::TransferFailed:
        case CommandResult::TransferUnconfirmed: return EXIT_TRANSFER;
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
    if (!o.cause.empty()) json += ",\"cause\":" + JsonString(o.cause);
    return json + o.extraJson + "}\n";
}

std::string UsageErrorJson(const std::string& message) {
    return "{\"ok\":false,\"exit_code\":" + std::to_string(EXIT_USAGE) +
           ",\"result\":" + JsonString(ResultWord(EXIT_USAGE)) +
           ",\"error\":\"usage\",\"message\":" + JsonString(message) + "}\n";
}
