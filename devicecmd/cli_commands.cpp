// SendCliCommand and the four device commands.
#include "devicecmd/cli_commands.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "devicecmd/basic_credentials.h"
#include "devicecmd/chunked_search.h"
#include "devicecmd/device_connection.h"
#include "devicecmd/device_settings.h"
#include "devicecmd/failure_words.h"
#include "devicecmd/reply_deadline.h"
#include "platform/log.h"
#include "spine/events.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "spine/transfer_names.h"

namespace {

// The file names the device is told to write (backup) and to read (restore).

constexpr std::size_t kRequestLimit = 1023;
constexpr int kReplyChunkSize = 1024;
constexpr std::string_view kRefusal = "unauthorized";
// A device's answer to a command is a few lines; one that streams on past this is not waited out.
constexpr std::size_t kReplyLimit = 1u << 20;

enum class Argument { Credentials, UploadFileName, ImageFileName, TftpAddress };

// Each command: its request template, and the texts that replace the template's "%s"
// placeholders, in placeholder order.
struct CommandRequest {
    int kind;
    const char* requestTemplate;
    std::array<Argument, 3> arguments;
    int count;
};

constexpr std::array<CommandRequest, 4> kCommandRequests{{
    {CMD_REBOOT,
     "GET /cli?REBOOT HTTP/1.0\r\nAuthorization: Basic %s\r\n\r\n",
     {Argument::Credentials},
     1},
    {CMD_LIST_CHANGES,
     "GET /cli?LIST+CHANGES+>+%s+HOST+%s HTTP/1.0\r\nAuthorization: Basic %s\r\n\r\n",
     {Argument::UploadFileName, Argument::TftpAddress, Argument::Credentials},
     3},
    {CMD_INITIALIZE_FACTORY,
     "GET /cli?INITIALIZE+FACTORY HTTP/1.0\r\nAuthorization: Basic %s\r\n\r\n",
     {Argument::Credentials},
     1},
    {CMD_EXECUTE,
     "GET /cli?EXECUTE+%s+HOST+%s HTTP/1.0\r\nAuthorization: Basic %s\r\n\r\n",
     {Argument::ImageFileName, Argument::TftpAddress, Argument::Credentials},
     3},
}};

const CommandRequest* FindCommand(int kind) {
    for (const auto& row : kCommandRequests)
        if (row.kind == kind) return &row;
    return nullptr;
}

// The dotted address the device is to send to or fetch from: the one we were given, else the
// local address of the connected socket; 0.0.0.0 when that cannot be read.
std::string TftpAddressText(std::uint32_t given, plat::SocketHandle s) {
    if (given != 0) return plat::FormatIpv4(given);
    plat::Ipv4Endpoint local{};
    if (!plat::SocketLocalAddress(s, &local)) local = plat::Ipv4Endpoint{};
    return plat::FormatIpv4(local.address);
}

// Each "%s" of the template, in order, takes the next argument text unchanged; a placeholder
// without an argument becomes empty. The request is cut to kRequestLimit characters.
std::string FormatRequest(const char* requestTemplate, std::span<const std::string> arguments) {
    std::string request;
    std::size_t next = 0;
    for (const char* p = requestTemplate; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < arguments.size()) request += arguments[next++];
            ++p;
        } else {
            request += *p;
        }
    }
    if (request.size() > kRequestLimit) request.resize(kRequestLimit);
    return request;
}

std::string ArgumentText(Argument a, plat::SocketHandle s, std::uint32_t tftpAddress,
                         const char* credentials) {
    switch (a) {
        case Argument::Credentials:
            return credentials;
        case Argument::UploadFileName:
            return kWriteImageName;
        case Argument::ImageFileName:
            return kReadImageName;
        case Argument::TftpAddress:
            return TftpAddressText(tftpAddress, s);
    }
    return {};
}

// The reply's status line ("http/1.0 401 ...", already in lower case), gathered across reads up
// to its line end. A status of 401 refuses the credentials whatever words follow it.
class StatusLine {
  public:
    void Take(std::span<const std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) {
            if (complete_) return;
            if (b == '\n' || line_.size() == kStatusLineLimit)
                complete_ = true;
            else
                line_.push_back(static_cast<char>(b));
        }
    }
    bool Complete() const { return complete_; }
    bool Refuses() const {
        std::string_view rest = line_;
        if (!rest.starts_with("http/")) return false;
        const std::size_t blank = rest.find(' ');
        if (blank == std::string_view::npos) return false;
        rest.remove_prefix(blank);
        while (rest.starts_with(' ')) rest.remove_prefix(1);
        return rest.starts_with("401") && (rest.size() == 3 || rest[3] < '0' || rest[3] > '9');
    }

  private:
    static constexpr std::size_t kStatusLineLimit = 256;
    std::string line_;
    bool complete_ = false;
};

int RefuseCredentials() {
    RaiseError(ERR_CREDENTIALS);
    plat::Log("ERROR: server user name or password invalid\n");
    return 0;
}

// Reads until the device closes the connection, refuses the credentials, the read fails, or the
// command's deadline passes (which ends it like the idle time-out: a failed read, then done).
// *how says which of these it was. `where` names the device in the cause of a failed read.
int AwaitCommandEnd(plat::SocketHandle s, const ReplyDeadline& deadline, const std::string& where,
                    CommandEnding* how) {
    std::array<std::uint8_t, kReplyChunkSize> chunk{};
    ChunkedSearch search(kRefusal.size());
    StatusLine status;
    const int idleMs = DeviceSettings.CommandIdleTimeoutMs > 0 ? DeviceSettings.CommandIdleTimeoutMs
                                                               : plat::kWaitForever;
    for (std::size_t received = 0;;) {
        if (received > kReplyLimit) {
            RaiseFailure(ERR_RECEIVE, FailureCause{where, "receive",
                                                   "the reply passed " +
                                                       std::to_string(kReplyLimit) + " bytes"});
            plat::Log("The reply passed %zu bytes; the command is taken as done.\n", kReplyLimit);
            *how = CommandEnding::ReplyTooLong;
            RaiseStatus(STATUS_COMMAND_DONE);
            return 1;
        }
        const int n = plat::SocketRecv(s, chunk, deadline.NextWaitMs(idleMs));
        if (n == 0 && status.Refuses()) return RefuseCredentials();
        if (n == 0) *how = CommandEnding::DeviceClosed;
        if (n == plat::kTimedOut)
            *how = deadline.Passed() ? CommandEnding::DeadlineReached : CommandEnding::IdleTimeout;
        else if (n < 0)
            *how = CommandEnding::ReceiveFailed;
        if (n < 0) {
            // A failed read, a reset, or a device silent for the idle time-out or past the
            // deadline: the command still counts as done.
            FailureCause cause{where, "receive", plat::SocketErrorText(plat::LastSocketError())};
            if (*how == CommandEnding::IdleTimeout) cause.text = NoReplyWithin(idleMs);
            if (*how == CommandEnding::DeadlineReached)
                cause.text = NoReplyWithin(DeviceSettings.CommandDeadlineMs) +
                             " (the command time-out)";
            RaiseFailure(ERR_RECEIVE, cause);
            plat::Log("Error in recv() call [errno=%d]\n", plat::LastSocketError());
        }
        if (n <= 0) {
            RaiseStatus(STATUS_COMMAND_DONE);
            return 1;
        }
        received += static_cast<std::size_t>(n);
        const auto bytes = std::span(chunk).first(static_cast<std::size_t>(n));
        for (auto& byte : bytes)
            if (byte >= 'A' && byte <= 'Z') byte = static_cast<std::uint8_t>(byte + 32);
        status.Take(bytes);
        if (search.Next(bytes).find(kRefusal) != std::string_view::npos ||
            (status.Complete() && status.Refuses()))
            return RefuseCredentials();
    }
}

}  // namespace

namespace {

int SendCommand(const DeviceCommandTarget& target, const char* requestTemplate, int kind,
                CommandEnd* end) {
    const ReplyDeadline deadline(DeviceSettings.CommandDeadlineMs);
    CommandEnd ignored;
    if (end == nullptr) end = &ignored;
    *end = CommandEnd{CommandEnding::NotSent, deadline.EndMs()};
    const DeviceConnection connection(
        ConnectToDevice(target.host, 0, target.reached, target.deviceTftpAddress, target.httpPort));
    if (!connection.IsOpen()) return 0;
    const plat::SocketHandle s = connection.Socket();

    char credentials[sizeof EncodedCredentials];
    EncodeBasicCredentials(target.userName, target.password, credentials);
    const CommandRequest* row = FindCommand(kind);
    if (row == nullptr) {
        plat::Log("No case to handle this TFTP command\n");
        return 0;
    }
    const std::uint32_t tftpAddress =
        target.tftpAddress != 0 ? target.tftpAddress : DeviceSettings.TftpAddress;
    std::array<std::string, 3> texts;
    for (int i = 0; i < row->count; ++i)
        texts[i] = ArgumentText(row->arguments[i], s, tftpAddress, credentials);
    const std::string request = FormatRequest(
        requestTemplate,
        std::span<const std::string>(texts.data(), static_cast<std::size_t>(row->count)));

    plat::Log("Sending TFTP request.\n");
    const auto bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(request.data()), request.size());
    if (plat::SocketSend(s, bytes) < 0) {
        RaiseFailure(ERR_SEND, DeviceSocketCause(target.host, target.httpPort, "send"));
        plat::Log("Error in send() call [errno=%d]\n", plat::LastSocketError());
        return 0;
    }
    return AwaitCommandEnd(s, deadline, DeviceWhere(target.host, target.httpPort), &end->how);
}

}  // namespace

int SendCliCommand(const char* host, const char* userName, const char* password,
                   const char* requestTemplate, int kind) {
    BuildBasicCredentials(userName, password);  // kept for whoever reads the latest one
    return SendCommand(DeviceCommandTarget{host, userName, password, nullptr}, requestTemplate,
                       kind, nullptr);
}

int SendDeviceCommand(const DeviceCommandTarget& target, int kind, CommandEnd* end) {
    if (end != nullptr) *end = CommandEnd{};
    const CommandRequest* row = FindCommand(kind);
    if (row == nullptr) {
        plat::Log("No case to handle this TFTP command\n");
        return 0;
    }
    return SendCommand(target, row->requestTemplate, kind, end);
}

bool EndedByUs(CommandEnding how) {
    return how == CommandEnding::IdleTimeout || how == CommandEnding::DeadlineReached ||
           how == CommandEnding::ReplyTooLong;
}

const char* EndingText(CommandEnding how) {
    switch (how) {
        case CommandEnding::IdleTimeout:
            return "the idle time-out";
        case CommandEnding::DeadlineReached:
            return "the command time-out";
        case CommandEnding::ReplyTooLong:
            return "a reply too long for a command's answer";
        case CommandEnding::NotSent:
        case CommandEnding::DeviceClosed:
        case CommandEnding::ReceiveFailed:
            break;
    }
    return "the device";
}

namespace {

// Every command goes out with the settings' host and credentials and the template of its row.
int SendCommandOfKind(int kind, CommandEnd* end = nullptr) {
    BuildBasicCredentials(ConnectionSettings.UserName, ConnectionSettings.Password);
    return SendCommand(DeviceCommandTarget{ConnectionSettings.Host, ConnectionSettings.UserName,
                                           ConnectionSettings.Password, nullptr},
                       FindCommand(kind)->requestTemplate, kind, end);
}

}  // namespace

int SendRebootCommand() {
    return SendCommandOfKind(CMD_REBOOT);
}
int SendFactoryResetCommand() {
    return SendCommandOfKind(CMD_INITIALIZE_FACTORY);
}
int SendExecuteCommand() {
    return SendCommandOfKind(CMD_EXECUTE);
}
int SendListChangesCommand() {
    return SendCommandOfKind(CMD_LIST_CHANGES);
}
int SendExecuteCommand(CommandEnd* end) {
    return SendCommandOfKind(CMD_EXECUTE, end);
}
int SendListChangesCommand(CommandEnd* end) {
    return SendCommandOfKind(CMD_LIST_CHANGES, end);
}
