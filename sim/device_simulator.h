// The device simulator: a stand-in for a Tavio device server on a given address, answering the
// utility's root-page probe and its /cli? commands, and carrying out LIST CHANGES and EXECUTE
// with TFTP transfers back to the host named in the command.
//
// Contract: Start() binds the listening socket on the caller's thread and then serves, one
// connection at a time, on a thread of its own until Stop(), the destructor, MaxRequests or
// DurationMs ends the run. Start(), Stop() and the destructor belong to the owner's thread; the
// other members may be called from any thread while it serves.
// The simulator holds one socket-library start-up from Start() to the end of its run, besides
// the ones its TFTP transfers take and give back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/net.h"
#include "sim/device_config_store.h"
#include "sim/sim_options.h"

class DeviceSimulator {
  public:
    explicit DeviceSimulator(SimOptions options);
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // False, with the reason in *error, when the address cannot be bound or no thread started.
    bool Start(std::string* error = nullptr);
    // The bound address and port (the port chosen when the options said 0).
    plat::Ipv4Endpoint Endpoint() const { return endpoint_; }
    // Asks the run to end and waits for it; a connection being served is finished first (its
    // waits are bounded).
    void Stop();
    // Asks the run to end without waiting for it (a fleet asks every device first, then waits).
    void RequestStop() { stop_ = true; }
    // Waits until the run has ended by itself (MaxRequests, DurationMs) or by Stop().
    void WaitUntilFinished();

    // The request line of every request received, in order of arrival.
    std::vector<std::string> Requests() const;
    // One line per TFTP step of a command, e.g. "WRQ upload-image 127.0.0.1:69 ok: sent 12 bytes".
    std::vector<std::string> Transfers() const;
    // The device's configuration now.
    std::string Configuration();

  private:
    void Run();
    void Serve(plat::SocketHandle connection);
    void ServeRootPage(plat::SocketHandle connection);
    void ServeCommand(plat::SocketHandle connection, const struct HttpRequest& request);
    std::string Execute(const std::vector<std::string>& words);
    bool BeginTransfer(const char* request, const std::string& fileName, const std::string& host,
                       std::string* step, plat::Ipv4Endpoint* server, std::string* reply);
    std::string ListChanges(const std::string& fileName, const std::string& host);
    std::string ExecuteFile(const std::string& fileName, const std::string& host);
    SimTftpOptions TftpOptions() const;
    bool CredentialsAccepted(const struct HttpRequest& request) const;
    void WaitForPeerToClose(plat::SocketHandle connection, int limitMs);
    void SendReply(plat::SocketHandle connection, const std::string& reply, std::size_t splitAt);
    void Note(std::vector<std::string>& list, const std::string& line);
    bool RunIsOver() const;

    const SimOptions options_;
    plat::Ipv4Endpoint endpoint_{};
    plat::SocketHandle listener_ = plat::kNoSocket;
    plat::FileHandle log_ = plat::kNoFile;
    std::thread thread_;  // joined by Stop() on the owner's thread
    std::atomic<bool> stop_{false};
    mutable std::atomic<int> tftpTransfers_{0};
    bool started_ = false;
    int handled_ = 0;
    std::uint64_t startedAtMs_ = 0;

    mutable std::mutex lock_;
    std::condition_variable finishedSignal_;
    bool finished_ = false;
    std::vector<std::string> requests_;
    std::vector<std::string> transfers_;
    DeviceConfigStore store_;
};
