#include "sim/device_simulator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <system_error>

#include "platform/threads.h"
#include "sim/base64_decode.h"
#include "sim/http_request.h"
#include "sim/sim_tftp_client.h"

namespace {

// The text without the lines that hold `word`: what a device keeps of a file some of whose
// commands it refuses.
std::string WithoutLinesHolding(const std::string& text, const std::string& word) {
    std::string kept;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line(text.data() + from, end - from);
        if (line.find(word) == std::string_view::npos) kept.append(line);
        from = end;
    }
    return kept;
}

constexpr int kAcceptSliceMs = 100;
constexpr int kListenBacklog = 8;

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// "LIST+CHANGES+>+upload-image+HOST+10.1.2.3" → its words.
std::vector<std::string> CommandWords(std::string_view query) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : query) {
        if (c == '+' || c == ' ') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const char* const kDefaultFactoryText =
    "hostname tavio\n"
    "ip address dhcp\n"
    "user root password tundra\n"
    "serial 1 speed 9600\n";

DeviceSimulator::DeviceSimulator(SimOptions options)
    : options_(std::move(options)),
      store_(options_.StatePath, options_.FactoryText) {}

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

bool DeviceSimulator::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        plat::SocketClose(listener_);
        listener_ = plat::kNoSocket;
        if (log_ != plat::kNoFile) plat::FileClose(log_);
        log_ = plat::kNoFile;
        plat::NetCleanup();
        return false;
    };
    if (plat::NetStartup() != 0) {
        if (error)
            *error = "socket library start-up failed: " + plat::SocketErrorText(plat::LastSocketError());
        return false;
    }
    listener_ = plat::TcpOpen();
    if (listener_ == plat::kNoSocket)
        return fail("no socket: " + plat::SocketErrorText(plat::LastSocketError()));
    if (!plat::SocketBind(listener_, options_.Listen) ||
        !plat::SocketListen(listener_, kListenBacklog))
        return fail("cannot listen on " + plat::FormatIpv4(options_.Listen.address) + ":" +
                    std::to_string(options_.Listen.port) + ": " +
                    plat::SocketErrorText(plat::LastSocketError()));
    plat::SocketLocalAddress(listener_, &endpoint_);
    if (!options_.LogPath.empty()) {
        log_ = plat::FileCreate(options_.LogPath.c_str());
        if (log_ == plat::kNoFile)
            return fail("cannot create the log " + options_.LogPath + ": " +
                        plat::LastFileErrorText());
    }
    store_.Current();  // creates the state file from the factory text when it is missing
    startedAtMs_ = plat::MonotonicMs();
    try {
        thread_ = std::thread(&DeviceSimulator::Run, this);
    } catch (const std::system_error&) {
        return fail("no thread");
    }
    started_ = true;
    return true;
}

void DeviceSimulator::Stop() {
    if (!started_) return;
    stop_ = true;
    // Joined, not only waited for: the run's last unlock must be over before this object can go.
    if (thread_.joinable()) thread_.join();
}

void DeviceSimulator::WaitUntilFinished() {
    if (!started_) return;
    std::unique_lock lock(lock_);
    finishedSignal_.wait(lock, [this] { return finished_; });
}

std::vector<std::string> DeviceSimulator::Requests() const {
    std::lock_guard lock(lock_);
    return requests_;
}

std::vector<std::string> DeviceSimulator::Transfers() const {
    std::lock_guard lock(lock_);
    return transfers_;
}

std::string DeviceSimulator::Configuration() {
    std::lock_guard lock(lock_);
    return store_.Current();
}

bool DeviceSimulator::RunIsOver() const {
    if (stop_) return true;
    if (options_.MaxRequests > 0 && handled_ >= options_.MaxRequests) return true;
    return options_.DurationMs > 0 &&
           plat::MonotonicMs() - startedAtMs_ >= static_cast<std::uint64_t>(options_.DurationMs);
}

void DeviceSimulator::Run() {
    while (!RunIsOver()) {
        std::uint64_t waitMs = static_cast<std::uint64_t>(options_.IdleCheckMs);
        if (options_.DurationMs > 0)
            waitMs =
                std::min(waitMs, startedAtMs_ + static_cast<std::uint64_t>(options_.DurationMs) -
                                     plat::MonotonicMs() + 1);
        const plat::SocketHandle connection =
            plat::SocketAccept(listener_, nullptr, static_cast<int>(waitMs));
        if (connection == plat::kNoSocket) continue;
        if (!stop_) Serve(connection);  // a connection that only wakes a stopping run is not served
        plat::SocketClose(connection);
    }
    plat::SocketClose(listener_);
    if (log_ != plat::kNoFile) plat::FileClose(log_);
    plat::NetCleanup();
    std::lock_guard lock(lock_);
    finished_ = true;
    finishedSignal_.notify_all();
}

void DeviceSimulator::Note(std::vector<std::string>& list, const std::string& line) {
    std::lock_guard lock(lock_);
    list.push_back(line);
    if (log_ != plat::kNoFile) {
        const std::string text = line + "\n";
        std::uint32_t written = 0;
        plat::FileWrite(log_, Bytes(text), &written);
        plat::FileFlush(log_);
    }
}

void DeviceSimulator::Serve(plat::SocketHandle connection) {
    HttpRequest request;
    if (!ReceiveHttpRequest(connection, options_.RequestReadTimeoutMs, &request)) return;
    Note(requests_, request.RequestLine);
    ++handled_;
    if (StartsWith(request.Target, "/cli?")) {
        ServeCommand(connection, request);
    } else if (request.Target == "/") {
        ServeRootPage(connection);
    } else {
        std::string reply = "HTTP/1.0 404 Not Found\r\n";
        if (!options_.ServerHeader.empty()) reply += "Server: " + options_.ServerHeader + "\r\n";
        reply += "Content-Type: text/html\r\n\r\n<html><body>Not found.</body></html>\n";
        SendReply(connection, reply, 0);
    }
}

void DeviceSimulator::ServeRootPage(plat::SocketHandle connection) {
    if (options_.Faults.NeverAnswerProbe) {
        WaitForPeerToClose(connection, options_.PeerGiveUpWaitMs);
        return;
    }
    std::string reply = "HTTP/1.0 200 OK\r\n";
    std::size_t splitAt = 0;
    if (!options_.ServerHeader.empty()) {
        // A split lands inside the value, so that no part holds the whole header.
        if (options_.Faults.SplitServerHeader)
            splitAt = reply.size() + 8 + std::min<std::size_t>(2, options_.ServerHeader.size());
        reply += "Server: " + options_.ServerHeader + "\r\n";
    }
    reply +=
        "Content-Type: text/html\r\n\r\n"
        "<html><head><title>Device server</title></head><body>Welcome.</body></html>\n";
    SendReply(connection, reply, splitAt);
}

bool DeviceSimulator::CredentialsAccepted(const HttpRequest& request) const {
    if (options_.Faults.RefuseCredentials) return false;
    const std::string value = HeaderValue(request, "Authorization");
    const std::size_t space = value.find(' ');
    if (space == std::string::npos) return false;
    std::string scheme = value.substr(0, space);
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    std::string decoded;
    return scheme == "basic" && Base64Decode(value.substr(space + 1), &decoded) &&
           decoded == options_.UserName + ":" + options_.Password;
}

void DeviceSimulator::ServeCommand(plat::SocketHandle connection, const HttpRequest& request) {
    if (!CredentialsAccepted(request)) {
        // The word appears once, in the status line, so a split really parts it.
        std::string reply = "HTTP/1.0 401 Unauthorized\r\n";
        const std::size_t splitAt =
            options_.Faults.SplitUnauthorized ? reply.find("Unauth") + 6 : 0;
        if (!options_.ServerHeader.empty()) reply += "Server: " + options_.ServerHeader + "\r\n";
        reply +=
            "WWW-Authenticate: Basic realm=\"device\"\r\nContent-Type: text/html\r\n\r\n"
            "<html><body>Access denied.</body></html>\n";
        SendReply(connection, reply, splitAt);
        return;
    }
    if (options_.CommandDelayMs > 0) plat::SleepMs(options_.CommandDelayMs);
    const std::string query = request.Target.substr(request.Target.find('?') + 1);
    const std::string outcome = Execute(CommandWords(query));
    if (!options_.Faults.CloseWithoutReply) {
        std::string reply = "HTTP/1.0 200 OK\r\n";
        if (!options_.ServerHeader.empty()) reply += "Server: " + options_.ServerHeader + "\r\n";
        reply += "Content-Type: text/plain\r\n\r\n" + outcome;
        SendReply(connection, reply, 0);
    }
    if (options_.Faults.HoldConnectionMs > 0)
        WaitForPeerToClose(connection, options_.Faults.HoldConnectionMs);
}

std::string DeviceSimulator::Execute(const std::vector<std::string>& words) {
    auto is = [&](std::initializer_list<const char*> expected) {
        if (words.size() != expected.size()) return false;
        std::size_t i = 0;
        for (const char* e : expected) {
            if (e != nullptr && words[i] != e) return false;
            ++i;
        }
        return true;
    };
    if (is({"REBOOT"})) return "Rebooting.\n";
    if (is({"INITIALIZE", "FACTORY"})) {
        std::lock_guard lock(lock_);
        return store_.ResetToFactory() ? "Factory defaults restored.\n"
                                       : "ERROR: the configuration cannot be stored.\n";
    }
    if (is({"LIST", "CHANGES", ">", nullptr, "HOST", nullptr}))
        return ListChanges(words[3], words[5]);
    if (is({"EXECUTE", nullptr, "HOST", nullptr})) return ExecuteFile(words[1], words[3]);
    return "ERROR: unknown command.\n";
}

// The TFTP step of LIST CHANGES or EXECUTE: the line that names it in Transfers(), and the
// server's endpoint. False, with the reply already noted and set, when the step is skipped or
// the host is unknown.
bool DeviceSimulator::BeginTransfer(const char* request, const std::string& fileName,
                                    const std::string& host, std::string* step,
                                    plat::Ipv4Endpoint* server, std::string* reply) {
    *step = std::string(request) + " " + fileName + " " + host + ":" +
            std::to_string(options_.Tftp.ServerPort);
    if (options_.Faults.SkipTftp) {
        Note(transfers_, *step + " skipped");
        *reply = "Done.\n";
        return false;
    }
    std::uint32_t address = 0;
    if (!plat::ResolveIpv4(host.c_str(), &address)) {
        Note(transfers_, *step + " failed: unknown host");
        *reply = "ERROR: unknown host.\n";
        return false;
    }
    *server = plat::Ipv4Endpoint{address, options_.Tftp.ServerPort};
    return true;
}

SimTftpOptions DeviceSimulator::TftpOptions() const {
    SimTftpOptions tftp = options_.Tftp;
    if (tftp.FaultsOnFirstTransfer && tftpTransfers_++ > 0) {
        tftp.DropSent.clear();
        tftp.DuplicateSent.clear();
        tftp.DropReceived.clear();
        tftp.SilentAfterSent = -1;
    }
    tftp.PacketDelayMs = options_.PacketDelayMs;
    const std::uint32_t own = options_.Listen.address;
    if (tftp.LocalAddress == plat::kAnyAddress && own != plat::kAnyAddress &&
        own != plat::kLoopbackAddress)
        tftp.LocalAddress = own;
    return tftp;
}

std::string DeviceSimulator::ListChanges(const std::string& fileName, const std::string& host) {
    std::string step, reply;
    plat::Ipv4Endpoint server{};
    if (!BeginTransfer("WRQ", fileName, host, &step, &server, &reply)) return reply;
    std::string text;
    {
        std::lock_guard lock(lock_);
        text = store_.Current();
    }
    const SimTftpResult r = SimTftpPut(server, fileName, text, TftpOptions());
    Note(transfers_, step + (r.Ok ? " ok: " : " failed: ") + r.Detail);
    return r.Ok ? "Done.\n" : "ERROR: transfer failed (" + r.Detail + ").\n";
}

std::string DeviceSimulator::ExecuteFile(const std::string& fileName, const std::string& host) {
    std::string step, reply;
    plat::Ipv4Endpoint server{};
    if (!BeginTransfer("RRQ", fileName, host, &step, &server, &reply)) return reply;
    std::string text;
    const SimTftpResult r = SimTftpGet(server, fileName, &text, TftpOptions());
    if (!r.Ok) {
        Note(transfers_, step + " failed: " + r.Detail);
        return "ERROR: transfer failed (" + r.Detail + ").\n";
    }
    if (!options_.Faults.RejectLinesWith.empty())
        text = WithoutLinesHolding(text, options_.Faults.RejectLinesWith);
    bool stored = false;
    {
        std::lock_guard lock(lock_);
        stored = store_.Apply(text);
    }
    Note(transfers_, step + (stored ? " ok: " + r.Detail : " failed: not stored"));
    return stored ? "Done.\n" : "ERROR: the configuration cannot be stored.\n";
}

void DeviceSimulator::WaitForPeerToClose(plat::SocketHandle connection, int limitMs) {
    std::array<std::uint8_t, 512> sink{};
    const std::uint64_t end = plat::MonotonicMs() + static_cast<std::uint64_t>(limitMs);
    while (!stop_ && plat::MonotonicMs() < end) {
        const int n = plat::SocketRecv(connection, sink, kAcceptSliceMs);
        if (n == 0 || n == plat::kSocketError) return;
    }
}

void DeviceSimulator::SendReply(plat::SocketHandle connection, const std::string& reply,
                                std::size_t splitAt) {
    if (options_.PacketDelayMs > 0) plat::SleepMs(options_.PacketDelayMs);
    const std::string_view text = reply;
    if (splitAt > 0 && splitAt < text.size()) {
        plat::SocketSend(connection, Bytes(text.substr(0, splitAt)));
        plat::SleepMs(options_.Faults.SplitPauseMs);
        plat::SocketSend(connection, Bytes(text.substr(splitAt)));
        return;
    }
    plat::SocketSend(connection, Bytes(text));
}
